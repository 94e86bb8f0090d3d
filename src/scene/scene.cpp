// SSMAIN set-up, size, per-step simulation and release. Relies on
// WATERCLASS, the Texture record and the standard library's rand; the GL
// calls here are state changes only (no drawing).
#include "scene/scene.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "support/diagnostics.h"
#include "support/translation.h"
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

namespace {

// Whether the current context has OpenGL 1.3's combine environment, which
// the light on the pool floor needs. Without it the water is drawn as
// without that light, and the user is told once.
bool HasTextureCombine() {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 0;
    int minor = 0;
    if (version && std::sscanf(version, "%d.%d", &major, &minor) == 2 &&
        (major > 1 || (major == 1 && minor >= 3))) {
        return true;
    }
    static bool told = false;
    if (!told)
        Tell(_("the light on the pool floor needs OpenGL 1.3; the water is drawn without it"));
    told = true;
    return false;
}

}  // namespace

bool SSMAIN::Setup(bool isPreview, int viewWidth, int viewHeight, const SETTINGS* settings) {
    if (!settings) return false;
    preview = isPreview;
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    lighting = settings->LIGHTING;
    wantBowl = settings->WANTBOWL;
    // Any caller's record runs safely: a wave speed or drip interval below
    // its range runs as that range's fallback (one above it runs as it is),
    // a grid outside its range as the factory one.
    const int32_t speed = FitBelow(kWaterSpeedRange, settings->WATERSPEED);
    waterSpeed = static_cast<float>(static_cast<float>(speed) / 100.0);
    waterShift = FitRange(kWaterShiftRange, settings->WATERSHIFT);
    dripSpeed = FitBelow(kDripSpeedRange, settings->DRIPSPEED);
    caustics = settings->CAUSTICS && HasTextureCombine();

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
