// View frustum extraction and culling tests; see frustum.h.
#include "support/frustum.h"

#include <GL/gl.h>

#include <cmath>

float frustum[6][4];

namespace {

float PlaneDistance(const float* plane, VECTOR3D p) {
    return plane[0] * p.x + plane[1] * p.y + plane[2] * p.z + plane[3];
}

}  // namespace

void ExtractFrustum() {
    float proj[16];
    float modl[16];
    glGetFloatv(GL_PROJECTION_MATRIX, proj);
    glGetFloatv(GL_MODELVIEW_MATRIX, modl);

    // clip = proj * modl, both column-major.
    float clip[16];
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            clip[4 * i + j] = modl[4 * i] * proj[j] + modl[4 * i + 1] * proj[4 + j] +
                              modl[4 * i + 2] * proj[8 + j] + modl[4 * i + 3] * proj[12 + j];
        }
    }

    for (int k = 0; k < 4; ++k) {
        const float* row = &clip[4 * k];
        frustum[kFrustumRight][k] = row[3] - row[0];
        frustum[kFrustumLeft][k] = row[3] + row[0];
        frustum[kFrustumBottom][k] = row[3] + row[1];
        frustum[kFrustumTop][k] = row[3] - row[1];
        frustum[kFrustumFar][k] = row[3] - row[2];
        frustum[kFrustumNear][k] = row[3] + row[2];
    }

    for (float* plane : frustum) {
        const float sum = plane[0] * plane[0] + plane[1] * plane[1] + plane[2] * plane[2];
        const float t = static_cast<float>(std::sqrt(static_cast<double>(sum)));
        if (t == 0.0f) continue;
        for (int k = 0; k < 4; ++k) plane[k] /= t;
    }
}

bool PointInFrustum(VECTOR3D p) {
    for (const float* plane : frustum) {
        if (PlaneDistance(plane, p) <= 0.0f) return false;
    }
    return true;
}

bool SphereInFrustum(VECTOR3D c, float r) {
    for (const float* plane : frustum) {
        if (PlaneDistance(plane, c) <= -r) return false;
    }
    return true;
}

bool SphereInsideSinglePlaneFrustum(int plane, VECTOR3D c, float r) {
    if (plane < 0 || plane > 5) return true;
    return PlaneDistance(frustum[plane], c) > -r;
}

VECTOR3D PointAtEdgeOfFrustum(int plane, VECTOR3D p) {
    if (plane < 0 || plane > 5) return {0.0f, 0.0f, 0.0f};
    const float a = frustum[plane][0];
    const float b = frustum[plane][1];
    const float c = frustum[plane][2];
    const float d = frustum[plane][3];
    switch (plane) {
        case kFrustumRight:
        case kFrustumLeft:
            return {-(b * p.y + c * p.z + d) / a, p.y, p.z};
        case kFrustumBottom:
        case kFrustumTop:
            return {p.x, -(a * p.x + c * p.z + d) / b, p.z};
        default:
            return {p.x, p.y, -(a * p.x + b * p.y + d) / c};
    }
}
