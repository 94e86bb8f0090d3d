// The plain water step: velocities, mean removal, bowl easing, then heights,
// normals and refracted texture coordinates, one grid point at a time.
#include "plain_water_step.h"

#include <cmath>

namespace {

struct Grid {
    WATERCELL* cells;
    int n;
    float& H(int x, int y) const {
        const int cx = ((x % n) + n) % n;
        const int cy = ((y % n) + n) % n;
        return cells[cy * n + cx].Height;
    }
};

}  // namespace

void PlainWaterStep(WATERCLASS& water, const VECTOR3D& eye, double elapsed) {
    const int n = 1 << water.Shift;
    const Grid g{water.Cells, n};

    // 1. Velocity pass.
    water.Mean = 0.0f;
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            WATERCELL& cell = water.Cells[y * n + x];
            float e = g.H(x, y - 1);
            e = e + g.H(x - 1, y);
            e = e + g.H(x + 1, y);
            e = e + g.H(x, y + 1);
            float d = g.H(x - 1, y - 1);
            d = d + g.H(x + 1, y - 1);
            d = d + g.H(x - 1, y + 1);
            d = d + g.H(x + 1, y + 1);
            const float avg = d * 0.0833333358f + e * 0.16666667f;
            if (cell.Velocity > 0.01f || cell.Velocity < -0.01f) {
                cell.Velocity = cell.Velocity * 0.99f;
            }
            const float speed = water.Speed * 0.25f;
            cell.Velocity = cell.Velocity + speed * (avg - cell.Height);
            water.Mean = water.Mean + (cell.Height + cell.Velocity);
        }
    }

    // 2. Mean of the coming heights.
    water.Mean = water.Mean / static_cast<float>(water.VertexCount);

    // 3. Bowl easing.
    const float target = water.WantBowl ? 2500.0f : -1000.0f;
    const double rate = water.WantBowl ? 0.4 : 0.2;
    const float difference = target - water.BowlLevel;
    const double level = static_cast<double>(water.BowlLevel) + difference * elapsed * rate;
    water.BowlLevel = static_cast<float>(level);

    // 4. Heights and mesh.
    const float spacing = water.Size / static_cast<float>(n - 1);
    const REFRACTION entry = water.RefractTable[10];
    float Z = water.Size * -0.5f;
    for (int y = 0; y < n; ++y) {
        float X = water.Size * -0.5f;
        for (int x = 0; x < n; ++x) {
            WATERCELL& cell = water.Cells[y * n + x];
            cell.Height = (cell.Height + cell.Velocity) - water.Mean;
            const VECTOR3D P = {X, cell.Height, Z};

            const float d1 = g.H(x - 1, y - 1) - g.H(x + 1, y + 1);
            const float d2 = g.H(x, y - 1) - g.H(x, y + 1);
            const float d3 = g.H(x + 1, y - 1) - g.H(x - 1, y + 1);
            const float d4 = g.H(x - 1, y) - g.H(x + 1, y);
            const VECTOR3D nv = {(d1 - d3) + d4, 1.0f, (d1 + d2) + d3};
            const float nlen = sqrtf(nv.x * nv.x + nv.y * nv.y + nv.z * nv.z);
            const VECTOR3D normal = {nv.x / nlen, nv.y / nlen, nv.z / nlen};

            VECTOR3D A = {eye.x - P.x, eye.y - P.y, eye.z - P.z};
            const float alen = sqrtf(A.x * A.x + A.y * A.y + A.z * A.z);
            if (alen != 0.0f) {
                A.x = A.x / alen;
                A.y = A.y / alen;
                A.z = A.z / alen;
            }

            VECTOR3D T;
            T.x = (normal.x * entry.NormalScale + A.x) * entry.Ratio;
            T.y = (normal.y * entry.NormalScale + A.y) * entry.Ratio;
            T.z = (normal.z * entry.NormalScale + A.z) * entry.Ratio;

            const VECTOR3D Q = {P.x - 0.0f, P.y - 20.0f, P.z - 0.0f};
            float c;
            if (water.WantBowl) {
                c = static_cast<float>(static_cast<double>(VectorDotProduct(Q, Q)) -
                                       static_cast<double>(water.BowlLevel));
            } else {
                c = water.BowlLevel;
            }
            float Hx = P.x;
            float Hz = P.z;
            if (c < 0.0f) {
                const float b = 2.0f * VectorDotProduct(T, Q);
                const float t = (sqrtf(b * b - 4.0f * c) - b) * 0.5f;
                Hx = P.x + t * T.x;
                Hz = P.z + t * T.z;
            }

            WATERVERTEX& vertex = water.Vertices[y * n + x];
            vertex.Position = P;
            vertex.Normal = normal;
            vertex.TexCoord.x = Hx * water.InvSize + 0.5f;
            vertex.TexCoord.y = 1.0f - (Hz * water.InvSize + 0.5f);
            X = X + spacing;
        }
        Z = Z + spacing;
    }
}
