// SSMAIN: the scene driver of one running view. It owns the water, the
// texture records that the overlay and intro draw, and the desktop texture;
// it keeps the settings copy, the camera, an orbiting light, the drip timer
// and the timers of the intro and the overlay. Relies on WATERCLASS, the
// Texture record, the vector math, OpenGL and GLU.
//
// The scene layer (src/scene/): the driver of one running view. It may use
// water/, resources/ and support/; never the view, the platform or the
// program.
//
// The host drives it like this, with the view's OpenGL context current for
// every call but the constructor:
//   1. seed srand, construct (which draws one number from rand), Setup;
//   2. install the archive's records in textures/textureCount (the loader
//      releases the six empty records that Setup left there);
//   3. hand over the desktop texture by storing its name in deskTexture;
//   4. per tick: Update(seconds), then the host's projection step
//      (perspective 45°, the view's aspect, near 1, far 100, identity
//      model-view current), then Draw, then glFlush; SetSize after a resize;
//   5. Cleanup and delete (Cleanup runs again in the destructor).
// Draw relies on state the host sets once: depth test with GL_LEQUAL, smooth
// shading, colour material for GL_FRONT_AND_BACK / GL_AMBIENT_AND_DIFFUSE and
// the default (modulate) texture environment.
//
// Sums and products with time steps are formed in double precision and
// stored as float. The drawing lives in scene_draw.cpp, overlay.cpp and
// intro.cpp; scene.cpp holds the set-up and the simulation.
#pragma once

#include <cstdint>

#include "resources/texture.h"
#include "scene/settings.h"
#include "support/vector.h"
#include "water/water_raster.h"

class WATERCLASS;

class SSMAIN {
public:
    double totalTime = 0.0;  // seconds: the sum of all Update steps
    double frameTime = 0.0;  // seconds: the latest Update step
    int32_t width = 0;       // view size in pixels (SetSize)
    int32_t height = 0;
    bool preview = false;  // the host's small preview: water only, no overlay or intro

    // View pixels per banner unit: the screen's scale factor times the
    // view's own (0.5 for a view drawn at half size and stretched). The
    // banner's size and places are given in these units; 1 for a screen
    // of 96 dots per inch. Values that are not positive count as 1.
    float overlayScale = 1.0f;

    // Overlay banner: seconds until it next changes state, whether it is on
    // screen (or sliding onto it), which edge it uses, and the lower-left
    // corner of its edge image in banner units.
    float bannerTimer = 15.0f;
    bool bannerShown = false;
    bool bannerAtTop = false;
    point2d bannerPos;  // (width - 256, -35) as constructed
    // Record of textures holding the message image: 4 or 5.
    uint32_t messageIndex;
    // Message card: countdown in seconds, and its opacity, which is also the
    // amount by which Draw darkens the water.
    float cardTimer = 0.0f;
    float cardAlpha = 0.0f;

    bool introDone = false;     // the intro has finished for good
    float introSlide = 1.0f;    // placement factor of the second intro image
    float introAlpha1 = -5.0f;  // opacities; below 0 they count down the wait
    float introAlpha2 = -1.0f;

    // The texture table: textureCount records, written by the texture loader.
    // Setup installs six empty records with a count of 0; records are read
    // only below textureCount (see TextureName).
    int32_t textureCount = 0;
    Texture* textures = nullptr;  // owned array (new[])
    WATERCLASS* water = nullptr;  // owned
    uint32_t deskTexture = 0;     // GL name of the desktop image; owned once handed over

    bool lighting = true;  // the light orbits when true, stands still when false
    bool wantBowl = true;
    float waterSpeed = 1.0f;  // WATERSPEED / 100, 1.0 when that is below 0.1
    int32_t waterShift = 6;   // log2 of the water's grid side, 4 ... 8
    int32_t dripSpeed = 0;    // shortest drip interval in hundredths of a second, at least 1
    bool caustics = false;    // Draw adds the light that the ripples focus on the floor

    // When set, Draw draws the water on the processor into this frame and
    // hands it over before the overlay (not owned); through the renderer
    // when that fails (a vertex behind the eye).
    WaterFrame* waterFrame = nullptr;

    VECTOR3D lightTarget = {0.0f, 75.0f, 100.0f};  // circles the Y axis
    VECTOR3D lightPos = {0.0f, 100.0f, 0.0f};      // GL light 0, world coordinates
    VECTOR3D cameraPos = {0.0f, 77.5f, 0.0f};
    VECTOR3D cameraTarget = {0.0f, 0.0f, 0.0f};
    float dripTimer = 1.0f;              // seconds until the next drip
    float aspect = 1.3333332538604736f;  // width / height

    // Sets the initial values; draws one number from rand for messageIndex.
    // Touches no GL state.
    SSMAIN();
    // Runs Cleanup.
    ~SSMAIN();
    SSMAIN(const SSMAIN&) = delete;
    SSMAIN& operator=(const SSMAIN&) = delete;

    // Copies the settings (out-of-range values replaced: a speed below 0.1 by
    // 1.0, a grid shift outside 4 ... 8 by 6, a drip interval below 1 by 1),
    // makes a new water and six empty texture records, sets the size, camera
    // and light 0 and switches lighting and back-face culling on. False when
    // settings is null, when the water cannot be made with all its buffers
    // (water is then null) or when the records cannot be allocated.
    bool Setup(bool preview, int width, int height, const SETTINGS* settings);
    // Stores the size in pixels. A height of 0 or below keeps the previous
    // aspect ratio, so that it stays finite.
    void SetSize(int width, int height);
    // Advances the clocks and the water by seconds, and lets at most one drip
    // fall when the drip timer runs out.
    void Update(double seconds);
    // One frame: the water, then (outside the preview) the overlay.
    void Draw();
    // Draws the water with the light on the floor (caustics.cpp), for light
    // 0 at `light` (world coordinates) and the material colour shade; the
    // GL state afterwards is as before, the current colour shade.
    void DrawCaustics(const VECTOR3D& light, float shade);
    // Draws the water into waterFrame (scene_draw.cpp), lit from `light`
    // with the material colour shade, and hands it over. False, handing
    // nothing over, when it cannot be drawn there.
    bool DrawWaterFrame(const VECTOR3D& light, float shade);
    // The banner, the message card and, until it is done, the intro. Leaves
    // an orthographic projection and the canvas scale on the model-view.
    void DoOverlay();
    // One frame of the intro, on the overlay's 1024 x 768 canvas.
    void DoIntro();
    // Releases the water, the texture records and the desktop texture and
    // switches lighting, light 0 and face culling off. Safe to repeat.
    void Cleanup();

    // overlayScale when it is a positive finite number, else 1.
    float BannerScale() const;
    // The water's grid point under the view pixel (x, y), measured from the
    // view's top-left corner (pixel centres at halves): where the ray
    // through that pixel, through the camera and projection that Draw
    // uses, meets the surface at rest. Pure arithmetic, no GL state. False
    // when the ray misses the water or there is no water or no size.
    bool PixelToGrid(float x, float y, int* column, int* row) const;
    // A drip at a grid point that the user touched: a full one, whose
    // strength is drawn from rand like a timed drip's, or a small one of a
    // dragged trail (the weakest timed strength). False without water.
    bool DropAt(int column, int row, bool trail);
    // A timed drip's strength, 0.50 ... 1.99, from one rand() value.
    static float DripStrength(int random);

    // The GL texture name held by record i, or 0 when the table has no such
    // record (a short archive, no table at all).
    uint32_t TextureName(uint32_t record) const;
};
