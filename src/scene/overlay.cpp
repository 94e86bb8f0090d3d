// SSMAIN::DoOverlay: the banner that slides in from the top or bottom edge,
// the message card once a minute, and the intro while it runs. The banner is
// placed in banner units (overlayScale view pixels each, so that it keeps
// its size on a dense screen), the card and the intro on a 1024 x 768
// canvas stretched over the view. Relies on the records of the texture
// table and the standard library's rand.
#include <GL/gl.h>

#include <cstdlib>

#include "scene/scene.h"

namespace {

// Banner: seconds on screen, seconds off screen; strip sizes in banner units.
constexpr float kBannerShowing = 20.0f;
constexpr float kBannerHiding = 30.0f;
constexpr float kEdgeWidth = 256.0f;
constexpr float kMessageWidth = 512.0f;
constexpr float kStripHeight = 32.0f;
// Card: seconds visible, the countdown's restart point, the canvas row.
constexpr float kCardShowing = 20.0f;
constexpr float kCardRestart = -40.0f;
constexpr float kCardWidth = 1024.0f;
constexpr float kCardHeight = 64.0f;
constexpr float kCardY = 352.0f;
// The banner record drawn at the edge.
constexpr uint32_t kEdgeRecord = 1;

// One textured quad with its lower-left corner at (x, y): counter-clockwise
// from the lower left, texture coordinates (0,0) (1,0) (1,1) (0,1).
void DrawQuad(GLuint texture, float x, float y, float w, float h) {
    glPushMatrix();
    glTranslatef(x, y, 0.0f);
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(w, 0.0f, 0.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(w, h, 0.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(0.0f, h, 0.0f);
    glEnd();
    glPopMatrix();
}

// The banner's timer and place for this frame. Its state changes when its
// timer runs out: hidden -> showing on the other edge with a new side and
// message, showing -> hiding. `unitsWide` and `unitsHigh`: the view's size
// in banner units.
void AdvanceBanner(SSMAIN& s, double unitsWide, double unitsHigh) {
    s.bannerTimer = static_cast<float>(static_cast<double>(s.bannerTimer) - s.frameTime);
    if (s.bannerTimer < 0.0f) {
        s.bannerTimer = kBannerHiding;
        if (!s.bannerShown) {
            s.messageIndex = static_cast<uint32_t>(std::rand() % 2 + 4);
            const int side = std::rand();
            s.bannerPos.x = (side % 2 != 0) ? static_cast<float>(unitsWide - 256.0) : 0.0f;
            s.bannerAtTop = !s.bannerAtTop;
            // The strip starts just outside the edge it will rest at.
            s.bannerPos.y = s.bannerAtTop ? static_cast<float>(unitsHigh + 40.0) : -40.0f;
            s.bannerTimer = kBannerShowing;
        }
        s.bannerShown = !s.bannerShown;
    }

    // Exponential approach: the fraction frameTime of the remaining distance
    // per step (a step over one second overshoots).
    float target;
    if (s.bannerShown) {
        target = s.bannerAtTop ? static_cast<float>(unitsHigh - 40.0) : 5.0f;
    } else {
        target = s.bannerAtTop ? static_cast<float>(unitsHigh + 40.0) : -40.0f;
    }
    const float remaining = target - s.bannerPos.y;
    s.bannerPos.y = static_cast<float>(s.bannerPos.y + remaining * s.frameTime);
}

// The banner is drawn in every frame; while hidden it lies off the view.
void DrawBanner(const SSMAIN& s, float scale, double unitsWide) {
    glPushMatrix();
    glScalef(scale, scale, 1.0f);
    DrawQuad(s.TextureName(kEdgeRecord), s.bannerPos.x, s.bannerPos.y, kEdgeWidth, kStripHeight);
    DrawQuad(s.TextureName(s.messageIndex), static_cast<float>(unitsWide * 0.5 - 256.0),
             s.bannerPos.y, kMessageWidth, kStripHeight);
    glPopMatrix();
}

// The card fades in over 2 seconds while its countdown is positive, out
// over 2 seconds after it, and comes back when the countdown passes -40.
void AdvanceCard(SSMAIN& s) {
    s.cardTimer = static_cast<float>(static_cast<double>(s.cardTimer) - s.frameTime);
    if (s.cardTimer > 0.0f) {
        if (s.cardAlpha < 1.0f) {
            s.cardAlpha = static_cast<float>(s.cardAlpha + s.frameTime * 0.5);
        } else {
            s.cardAlpha = 1.0f;
        }
    } else {
        if (s.cardAlpha > 0.0f) {
            s.cardAlpha = static_cast<float>(s.cardAlpha - s.frameTime * 0.5);
        } else {
            s.cardAlpha = 0.0f;
            if (s.cardTimer < kCardRestart) s.cardTimer = kCardShowing;
        }
    }
}

// The card, on the canvas, while it is not fully transparent.
void DrawCard(const SSMAIN& s) {
    if (!(s.cardAlpha > 0.0f)) return;
    glColor4f(1.0f, 1.0f, 1.0f, s.cardAlpha);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    DrawQuad(s.TextureName(s.messageIndex), 0.0f, kCardY, kCardWidth, kCardHeight);
    glDisable(GL_BLEND);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

}  // namespace

void SSMAIN::DoOverlay() {
    // The view's size in banner units: the view's pixels at a scale of 1.
    const float scale = BannerScale();
    const double unitsWide = width / static_cast<double>(scale);
    const double unitsHigh = height / static_cast<double>(scale);
    AdvanceBanner(*this, unitsWide, unitsHigh);

    // One unit per pixel, origin at the lower-left corner.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, width, 0.0, height, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glNormal3f(0.0f, 0.0f, 1.0f);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    DrawBanner(*this, scale, unitsWide);
    glDisable(GL_BLEND);

    // From here on one unit is one canvas unit of 1024 x 768.
    glScalef(static_cast<float>(width * 0.0009765625), static_cast<float>(height / 768.0), 1.0f);
    AdvanceCard(*this);
    DrawCard(*this);

    glEnable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);

    if (!introDone) DoIntro();
}
