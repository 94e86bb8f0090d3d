// Vector math: the value types VECTOR3D, point2d and COLOUR and the free
// functions on them. Plain aggregates passed by value; nothing allocates,
// keeps state or reports errors.
//
// Every function here is part of the support library's public set, whether
// or not the water or the scene calls it today: the library offers the
// whole set (and its tests hold it), so none is dropped for want of a
// caller.
//
// The support layer (src/support/): math, diagnostics and file checks that
// every other layer may use. It uses only OpenGL, GLU and the standard
// library, and includes no other layer.
//
// Precision: plain vector arithmetic is single precision. Anything that
// involves a double argument, a trigonometric function or a square root is
// done in double precision and rounded to float when stored.
#pragma once

struct VECTOR3D {
    float x, y, z;
};

struct point2d {
    float x, y;
};

struct COLOUR {
    float r, g, b, a;
};

// Wraps (does not clamp) v into range: while v < lo, v += hi; then while
// v >= hi, v -= hi. The step is hi, not hi - lo. More than 64 turns away
// the whole turns are taken off at once with fmod. A non-finite argument or
// a hi that is not positive returns v unchanged.
double clamp(double v, double lo, double hi);

COLOUR MakeColour(float r, float g, float b, float a);
VECTOR3D MakePoint(float x, float y, float z);
point2d Make2DPoint(float x, float y);

// Rotates *v in place by Euler angles in degrees: about X, then Y, then Z,
// each applied to the already rotated vector. All-zero angles leave *v
// untouched bit for bit.
void Rotate(VECTOR3D* v, float ax, float ay, float az);

VECTOR3D AddVectors(VECTOR3D a, VECTOR3D b);
VECTOR3D SubtractVectors(VECTOR3D a, VECTOR3D b);
VECTOR3D MultiplyVectors(VECTOR3D a, VECTOR3D b);  // component-wise
VECTOR3D DivideVectors(VECTOR3D a, VECTOR3D b);    // component-wise
VECTOR3D ScaleVector(VECTOR3D a, double s);        // in double, rounded

// Square root of x² + y² + z²: the sum in single, the root in double.
double VectorLength(VECTOR3D a);
float VectorLengthNOSQRT(VECTOR3D a);
// The squared distance (no root).
float DistanceBetweenVectors(VECTOR3D a, VECTOR3D b);
// a / |a| in double, rounded. The zero vector is returned unchanged, so
// that no NaN spreads into whatever uses the result.
VECTOR3D NormalizeVector(VECTOR3D a);
float VectorDotProduct(VECTOR3D a, VECTOR3D b);
VECTOR3D VectorCrossProduct(VECTOR3D a, VECTOR3D b);
// (a - b) x (b - c), not normalised.
VECTOR3D CalculateNormal(VECTOR3D a, VECTOR3D b, VECTOR3D c);
// Exact equality of all three components, no tolerance.
bool CompareVectors(VECTOR3D a, VECTOR3D b);
// The rotation that turns +Z towards b - a, as axis times angle in degrees.
VECTOR3D AngleBetweenVectors(VECTOR3D a, VECTOR3D b);
