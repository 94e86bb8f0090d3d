// The -fps display: a 5 × 7 font for the characters of "0123456789. fps",
// drawn as one quad per lit cell on a dark plate. Relies on OpenGL 1.x.
#include "host/frame_rate_text.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// One glyph: seven rows, top first, the five low bits of each row from the
// left (bit 4) to the right (bit 0).
struct Glyph {
    char c;
    unsigned char rows[7];
};

constexpr Glyph kGlyphs[] = {
    {'0', {0x0e, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0e}},
    {'1', {0x04, 0x0c, 0x04, 0x04, 0x04, 0x04, 0x0e}},
    {'2', {0x0e, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1f}},
    {'3', {0x1f, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0e}},
    {'4', {0x02, 0x06, 0x0a, 0x12, 0x1f, 0x02, 0x02}},
    {'5', {0x1f, 0x10, 0x1e, 0x01, 0x01, 0x11, 0x0e}},
    {'6', {0x06, 0x08, 0x10, 0x1e, 0x11, 0x11, 0x0e}},
    {'7', {0x1f, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0e, 0x11, 0x11, 0x0e, 0x11, 0x11, 0x0e}},
    {'9', {0x0e, 0x11, 0x11, 0x0f, 0x01, 0x02, 0x0c}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0x0c}},
    {'f', {0x06, 0x09, 0x08, 0x1c, 0x08, 0x08, 0x08}},
    {'p', {0x00, 0x00, 0x1e, 0x11, 0x1e, 0x10, 0x10}},
    {'s', {0x00, 0x00, 0x0e, 0x10, 0x0e, 0x01, 0x1e}},
};

const Glyph* FindGlyph(char c) {
    for (const Glyph& g : kGlyphs) {
        if (g.c == c) return &g;
    }
    return nullptr;  // a space, or a character the font lacks
}

// The glyph's lit cells as quads, inside glBegin(GL_QUADS); (left, bottom)
// is the corner of its lowest row, `cell` the side of a cell in pixels.
void DrawGlyph(const Glyph& g, int left, int bottom, int cell) {
    for (int row = 0; row < 7; ++row) {
        const int rowBottom = bottom + (6 - row) * cell;
        for (int col = 0; col < 5; ++col) {
            if ((g.rows[row] & (0x10 >> col)) == 0) continue;
            const float x0 = static_cast<float>(left + col * cell);
            const float y0 = static_cast<float>(rowBottom);
            glVertex2f(x0, y0);
            glVertex2f(x0 + cell, y0);
            glVertex2f(x0 + cell, y0 + cell);
            glVertex2f(x0, y0 + cell);
        }
    }
}

}  // namespace

void FormatFrameRate(double framesPerSecond, char* buffer, int size) {
    double rate = framesPerSecond;
    if (!(rate >= 0.0)) rate = 0.0;  // also NaN
    if (rate > 9999.9) rate = 9999.9;
    std::snprintf(buffer, static_cast<size_t>(size), "%.1f fps", rate);
}

void DrawFrameRate(double framesPerSecond, int width, int height, float scale) {
    if (width < 1 || height < 1) return;
    char text[32];
    FormatFrameRate(framesPerSecond, text, sizeof text);

    const double perPoint = scale > 0.0f && std::isfinite(scale) ? scale : 1.0;
    const int points = std::max(2, static_cast<int>(height / perPoint / 270.0));
    const int cell = std::max(1, static_cast<int>(std::lround(points * perPoint)));
    const int advance = 6 * cell;
    const int margin = 2 * cell;
    int length = 0;
    while (text[length] != '\0') ++length;

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, width, 0.0, height, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
    glDisable(GL_BLEND);

    glBegin(GL_QUADS);
    // The plate keeps the text readable on a bright picture.
    glColor3f(0.0f, 0.0f, 0.0f);
    const float plateRight = static_cast<float>(margin * 2 + length * advance);
    const float plateTop = static_cast<float>(margin * 2 + 7 * cell);
    glVertex2f(0.0f, 0.0f);
    glVertex2f(plateRight, 0.0f);
    glVertex2f(plateRight, plateTop);
    glVertex2f(0.0f, plateTop);

    glColor3f(1.0f, 1.0f, 0.0f);
    for (int i = 0; i < length; ++i) {
        const Glyph* g = FindGlyph(text[i]);
        if (g != nullptr) DrawGlyph(*g, margin + i * advance, margin, cell);
    }
    glEnd();

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}
