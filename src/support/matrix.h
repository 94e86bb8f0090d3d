// Matrix and quaternion math: the 4x4 matrix MATRIX and the quaternion QUAT,
// with products, conversions between Euler angles, matrices and quaternions,
// spherical interpolation and a text dump. Builds on the vector library.
//
// Every function here is part of the support library's public set, whether
// or not the water or the scene calls it today: the library offers the
// whole set (and its tests hold it), so none is dropped for want of a
// caller.
//
// Precision: every MATRIX and QUAT element is a double and all arithmetic on
// them is double; results stored into a VECTOR3D are rounded to float.
// Euler angles are degrees (x, y, z); AxisAndAngleToQuat takes radians.
#pragma once

#include "support/vector.h"

// Sixteen doubles in OpenGL's column-major order: row r, column c is
// m[4 * c + r]. Translation in m[12..14], the bottom row in m[3], m[7],
// m[11], m[15]. A new matrix is the identity.
class MATRIX {
public:
    MATRIX();
    void Zero();
    void Identity();
    // Sets m[12..14] only.
    void SetTranslation(VECTOR3D t);

    double m[16];
};

// Vector part first, scalar last. A new quaternion is the identity
// (0, 0, 0, 1).
class QUAT {
public:
    QUAT();
    void Identity();
    // Exact equality of all four components, no tolerance.
    bool IsEqualTo(QUAT q) const;

    double x, y, z, w;
};

// Orientation frame, right-handed: column 2 is the unit direction from a to b
// (+Z when a == b), column 1 the up vector nearest +Y (-X looking straight
// up, +X straight down), column 0 their cross product column 1 x column 2.
MATRIX MatrixAngleBetweenVectors(VECTOR3D a, VECTOR3D b);

MATRIX AddMatrix(MATRIX a, MATRIX b);
MATRIX SubtractMatrix(MATRIX a, MATRIX b);
// a * b.
MATRIX MultiplyMatrix(MATRIX a, MATRIX b);
// m * (v, 1) without the bottom row: no division by w.
VECTOR3D MatrixPointMultiply(MATRIX m, VECTOR3D v);
// The upper-left 3x3 of m times v.
VECTOR3D MatrixRotatePoint(MATRIX m, VECTOR3D v);
// The transpose of the upper-left 3x3 of m times v.
VECTOR3D MatrixInverseRotatePoint(MATRIX m, VECTOR3D v);
// v plus, or minus, m's translation.
VECTOR3D MatrixTranslatePoint(MATRIX m, VECTOR3D v);
VECTOR3D MatrixInverseTranslatePoint(MATRIX m, VECTOR3D v);
// Rotation matrix from Euler angles in degrees.
MATRIX MatrixFromAngle(VECTOR3D angles);
// Euler angles in degrees, each in [0, 360) (a value that would round up to
// 360 in float is 0). Near y = 90 or 270 (gimbal lock) x is 0 and z carries
// the whole turn about the shared axis.
VECTOR3D AngleFromMatrix(MATRIX m);

// The conjugate (-x, -y, -z, w), not divided by the norm.
QUAT InverseQuat(QUAT q);
// The Euclidean norm of all four components.
double QuatMagnitude(QUAT q);
// q divided by its magnitude. A quaternion of magnitude 0 (the zero one, or
// one so small that its squares underflow) has no direction and is returned
// unchanged rather than turned into NaN.
QUAT NormalizeQuat(QUAT q);
// The Hamilton product a * b: the rotation b followed by a.
QUAT MultiplyQuats(QUAT a, QUAT b);
// The rotation matrix of a unit quaternion.
MATRIX QuatToRotationMatrix(QUAT q);
// Unit quaternion turning by angle (radians) about axis.
QUAT AxisAndAngleToQuat(VECTOR3D axis, double angle);
// Unit quaternion from Euler angles in degrees.
QUAT RotationToQuat(VECTOR3D angles);
// Spherical interpolation from *a (t = 0) to *b (t = 1) along the shorter
// arc, so the end may be -*b; linear when the two are nearly equal. The
// result is not normalised.
QUAT QuatSlerp(const QUAT* a, const QUAT* b, double t);
// The quaternion of the rotation part of m (sign as it falls).
QUAT QuatFromMatrix(MATRIX m);

// Appends m to "test.txt" in the current directory: an empty line, then one
// line per column, each element as "%4.5f ". Writes nothing if the file
// cannot be opened.
void SaveMatrix(MATRIX m);
