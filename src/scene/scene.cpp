// SSMAIN set-up, size, per-step simulation and release. Relies on
// WATERCLASS, the Texture record and the standard library's rand; the GL
// calls here are state changes only (no drawing).
#include "scene/scene.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <cstdlib>
#include <new>

#include "water/water.h"

namespace {

// Size and extent of the water surface in world units.
constexpr float kWaterSize = 64.0f;
// Records the overlay and the intro need: 0 ... 5.
constexpr int kSceneRecords = 6;

}  // namespace

SSMAIN::SSMAIN()
    : bannerPos(Make2DPoint(static_cast<float>(width - 256), -35.0f)),
      messageIndex(static_cast<uint32_t>(std::rand() % 2 + 4)) {}

SSMAIN::~SSMAIN() { Cleanup(); }

bool SSMAIN::Setup(bool isPreview, int viewWidth, int viewHeight, const SETTINGS* settings) {
    if (!settings) return false;
    preview = isPreview;
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    lighting = settings->LIGHTING;
    wantBowl = settings->WANTBOWL;
    waterSpeed = static_cast<float>(static_cast<float>(settings->WATERSPEED) / 100.0);
    waterShift = settings->WATERSHIFT;
    dripSpeed = settings->DRIPSPEED;
    caustics = settings->CAUSTICS;
    // A speed below the lower limit falls back to the normal speed.
    if (static_cast<double>(waterSpeed) < 0.1) waterSpeed = 1.0f;
    if (waterShift < 4 || waterShift > 8) waterShift = 6;
    // The drip interval is a remainder by dripSpeed: it must be positive.
    if (dripSpeed < 1) dripSpeed = 1;

    delete water;
    water = new (std::nothrow) WATERCLASS;
    if (!water) return false;

    // delete[] releases the records from the last to the first. The new
    // records are empty; a count left from an earlier table would let the
    // overlay read past the end of this one, so it goes back to 0.
    delete[] textures;
    textureCount = 0;
    textures = new (std::nothrow) Texture[kSceneRecords];
    if (!textures) return false;

    SetSize(viewWidth, viewHeight);

    // The host leaves the identity on the model-view matrix: with the camera
    // applied, the light position below is taken in world coordinates.
    gluLookAt(cameraPos.x, cameraPos.y, cameraPos.z, cameraTarget.x, cameraTarget.y, cameraTarget.z,
              0.0, 0.0, -1.0);
    const GLfloat ambient[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    const GLfloat diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    const GLfloat specular[4] = {0.3f, 0.3f, 0.3f, 1.0f};
    const GLfloat position[4] = {lightPos.x, lightPos.y, lightPos.z, 1.0f};
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, specular);
    glLightfv(GL_LIGHT0, GL_POSITION, position);

    // Lighting is on whatever `lighting` holds; the flag only moves the light.
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glCullFace(GL_BACK);
    glEnable(GL_CULL_FACE);

    // A water without its buffers would be drawn from null arrays: drop it,
    // so that Update and Draw run without a surface.
    water->WantCaustics = caustics;
    if (!water->Initialize(static_cast<uint16_t>(waterShift), kWaterSize, wantBowl, waterSpeed)) {
        delete water;
        water = nullptr;
        return false;
    }
    return true;
}

void SSMAIN::SetSize(int viewWidth, int viewHeight) {
    width = viewWidth;
    height = viewHeight;
    if (viewHeight > 0) aspect = static_cast<float>(viewWidth) / static_cast<float>(viewHeight);
}

void SSMAIN::Update(double seconds) {
    frameTime = seconds;
    totalTime += seconds;
    if (!water) return;

    water->Update(cameraPos, seconds);

    dripTimer = static_cast<float>(static_cast<double>(dripTimer) - seconds);
    if (dripTimer < 0.0f) {
        // At most one drip per step; the overshoot does not shorten the next
        // interval. Strength 0.50 ... 1.99.
        water->Drop(DripStrength(std::rand()));
        // Interval dripSpeed ... 2 * dripSpeed - 1 hundredths of a second,
        // summed in 64 bits so that no dripSpeed can overflow it.
        const int interval = std::rand();
        const int64_t hundredths = int64_t{dripSpeed} + interval % dripSpeed;
        dripTimer = static_cast<float>(static_cast<double>(hundredths) / 100.0);
    }
}

float SSMAIN::DripStrength(int random) { return static_cast<float>((random % 150) / 100.0 + 0.5); }

void SSMAIN::Cleanup() {
    if (water) {
        delete water;
        water = nullptr;
    }
    if (textures) {
        delete[] textures;
        textures = nullptr;
    }
    // The name 0 deletes nothing.
    const GLuint desk = deskTexture;
    glDeleteTextures(1, &desk);
    deskTexture = 0;
    glDisable(GL_LIGHTING);
    glDisable(GL_LIGHT0);
    glDisable(GL_CULL_FACE);
}

uint32_t SSMAIN::TextureName(uint32_t record) const {
    // textureCount is what the loader wrote for the array it installed. The
    // six records that Setup leaves are empty, so below a count of 0 (no
    // archive loaded) every record reads as 0 as well.
    if (!textures || textureCount <= 0 || record >= static_cast<uint32_t>(textureCount)) return 0;
    return textures[record].glName;
}

float SSMAIN::BannerScale() const {
    return overlayScale > 0.0f && std::isfinite(overlayScale) ? overlayScale : 1.0f;
}
