// View frustum: the six clipping planes of the current OpenGL view, taken
// from the projection and model-view matrices, and point and sphere tests
// against them. Relies on the vector types and on a current OpenGL context
// for ExtractFrustum only.
//
// Every function here is part of the support library's public set, whether
// or not the water or the scene calls it today: the library offers the
// whole set (and its tests hold it), so none is dropped for want of a
// caller.
//
// Precision: single throughout; a plane's length is the square root, in
// double and rounded to float, of its single-precision sum of squares.
#pragma once

#include "support/vector.h"

// Plane indices into frustum.
enum {
    kFrustumRight = 0,
    kFrustumLeft = 1,
    kFrustumBottom = 2,
    kFrustumTop = 3,
    kFrustumFar = 4,
    kFrustumNear = 5,
};

// Six planes a, b, c, d of a*x + b*y + c*z + d = 0, with (a, b, c) of unit
// length pointing into the view volume, in the order right, left, bottom,
// top, far, near. All zeros until the first ExtractFrustum.
extern float frustum[6][4];

// Refills frustum from GL_PROJECTION_MATRIX and GL_MODELVIEW_MATRIX.
// Needs a current context. A plane whose normal comes out of zero length
// (a degenerate matrix) is kept as it is rather than divided by zero.
void ExtractFrustum();

// True when p lies strictly inside all six planes; a point on a plane is
// outside.
bool PointInFrustum(VECTOR3D p);

// True unless the sphere lies wholly outside some plane; a sphere that
// touches a plane from outside is outside.
bool SphereInFrustum(VECTOR3D c, float r);

// The sphere test against one plane only. A plane number outside 0-5 rules
// nothing out: the result is true.
bool SphereInsideSinglePlaneFrustum(int plane, VECTOR3D c, float r);

// p moved along one axis onto the plane: along X for right and left, Y for
// bottom and top, Z for far and near. (0, 0, 0) for a plane number outside
// 0-5. The caller avoids planes whose coefficient on that axis is 0.
VECTOR3D PointAtEdgeOfFrustum(int plane, VECTOR3D p);
