// SSMAIN's touch: from a pixel of the view to the water's grid point under
// it, and the drips the user drops there. Relies on GLU's gluUnProject (pure
// arithmetic, no context) and WATERCLASS's grid layout: point (column, row)
// lies at x = column * spacing - Size / 2, z = row * spacing - Size / 2 with
// spacing = Size / (N - 1), and Draw stretches x by the aspect ratio.
#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <cstdlib>
#include <numbers>

#include "scene/scene.h"
#include "water/water.h"

namespace {

// Column-major 4 x 4 matrices, as OpenGL keeps them.
struct Matrix4 {
    GLdouble m[16] = {};
};

Matrix4 Multiply(const Matrix4& a, const Matrix4& b) {
    Matrix4 out;
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += a.m[4 * k + r] * b.m[4 * c + k];
            out.m[4 * c + r] = sum;
        }
    }
    return out;
}

// What gluPerspective multiplies onto the projection.
Matrix4 Perspective(double fovyDegrees, double aspect, double zNear, double zFar) {
    const double half = fovyDegrees / 2.0 * std::numbers::pi / 180.0;
    const double cotangent = std::cos(half) / std::sin(half);
    Matrix4 p;
    p.m[0] = cotangent / aspect;
    p.m[5] = cotangent;
    p.m[10] = -(zFar + zNear) / (zFar - zNear);
    p.m[11] = -1.0;
    p.m[14] = -2.0 * zNear * zFar / (zFar - zNear);
    return p;
}

void Normalize(double v[3]) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length == 0.0) return;
    for (int i = 0; i < 3; ++i) v[i] /= length;
}

void Cross(const double a[3], const double b[3], double out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// What gluLookAt multiplies onto the model-view.
Matrix4 LookAt(const VECTOR3D& eye, const VECTOR3D& target, const double up[3]) {
    double forward[3] = {double{target.x} - eye.x, double{target.y} - eye.y,
                         double{target.z} - eye.z};
    Normalize(forward);
    double side[3], upright[3];
    Cross(forward, up, side);
    Normalize(side);
    Cross(side, forward, upright);
    Matrix4 rotation;
    for (int i = 0; i < 3; ++i) {
        rotation.m[4 * i + 0] = side[i];
        rotation.m[4 * i + 1] = upright[i];
        rotation.m[4 * i + 2] = -forward[i];
    }
    rotation.m[15] = 1.0;
    Matrix4 translation;
    translation.m[0] = translation.m[5] = translation.m[10] = translation.m[15] = 1.0;
    translation.m[12] = -eye.x;
    translation.m[13] = -eye.y;
    translation.m[14] = -eye.z;
    return Multiply(rotation, translation);
}

}  // namespace

bool SSMAIN::PixelToGrid(float x, float y, int* column, int* row) const {
    if (water == nullptr || !water->Ready() || width <= 0 || height <= 0) return false;

    // The host's projection step and Draw's camera and stretch along x.
    const Matrix4 projection = Perspective(45.0, aspect, 1.0, 100.0);
    const double up[3] = {0.0, 0.0, -1.0};
    Matrix4 stretch;
    stretch.m[0] = aspect;
    stretch.m[5] = stretch.m[10] = stretch.m[15] = 1.0;
    const Matrix4 modelView = Multiply(LookAt(cameraPos, cameraTarget, up), stretch);
    const GLint viewport[4] = {0, 0, width, height};

    // OpenGL counts window rows from the bottom.
    const double wx = x;
    const double wy = static_cast<double>(height) - y;
    double nearPoint[3], farPoint[3];
    if (gluUnProject(wx, wy, 0.0, modelView.m, projection.m, viewport, &nearPoint[0], &nearPoint[1],
                     &nearPoint[2]) != GL_TRUE ||
        gluUnProject(wx, wy, 1.0, modelView.m, projection.m, viewport, &farPoint[0], &farPoint[1],
                     &farPoint[2]) != GL_TRUE) {
        return false;
    }
    // The surface at rest is the plane y = 0; a ray that does not go down
    // towards it never meets it.
    const double drop = nearPoint[1] - farPoint[1];
    if (!(drop > 0.0) || nearPoint[1] < 0.0) return false;
    const double t = nearPoint[1] / drop;
    const double px = nearPoint[0] + t * (farPoint[0] - nearPoint[0]);
    const double pz = nearPoint[2] + t * (farPoint[2] - nearPoint[2]);

    const double last = static_cast<double>((1u << water->Shift) - 1);
    const double half = static_cast<double>(water->Size) / 2.0;
    const double gx = (px + half) * last / static_cast<double>(water->Size);
    const double gz = (pz + half) * last / static_cast<double>(water->Size);
    if (!(gx >= 0.0 && gx <= last && gz >= 0.0 && gz <= last)) return false;
    *column = static_cast<int>(std::lround(gx));
    *row = static_cast<int>(std::lround(gz));
    return true;
}

bool SSMAIN::DropAt(int column, int row, bool trail) {
    if (water == nullptr) return false;
    const float strength = trail ? DripStrength(0) : DripStrength(std::rand());
    return water->DropAt(static_cast<uint32_t>(column), static_cast<uint32_t>(row), strength);
}
