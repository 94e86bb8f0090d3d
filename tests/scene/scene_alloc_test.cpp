// Frames allocate nothing: every global operator new in this program is
// counted, and a run of Update and Draw pairs must not add to the count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "scene_rig.h"

namespace {
long allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++allocations;
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
// These replace the global pair, so freeing what the counted operator new
// allocated is the match; GCC cannot see that once both are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

TEST(SceneFrames, AllocateNothing) {
    // With the light on the floor too: its colours are made at set-up.
    for (bool caustics : {false, true}) {
        SCOPED_TRACE(caustics ? "caustics" : "no caustics");
        SceneRig rig(320, 240);
        ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
        const long before = allocations;
        SETTINGS settings = TestSettings(6);
        settings.CAUSTICS = caustics;
        ASSERT_TRUE(rig.Setup(settings));
        EXPECT_GE(allocations - before, 2);  // the water and the records are counted
        ASSERT_EQ(rig.scene.water->Caustics != nullptr, caustics);
        InstallRecords(rig.scene, {0, 0x00FF00FF, 0xFFFF00FF, 0x00FFFFFF, 0xFF0000FF, 0xFF0000FF});
        rig.scene.deskTexture = SolidTexture(0x204060FF);
        rig.Frame(0.05);
        // The first minute (the intro, a banner at the top, a card) lets the GL
        // driver build what it needs for every kind of frame; it allocates too.
        for (int i = 0; i < 240; ++i) rig.Frame(0.25);
        ASSERT_TRUE(rig.scene.introDone);
        // The second minute: drips, a banner at the bottom, the next card.
        const long start = allocations;
        bool bottomBanner = false;
        float card = 0.0f;
        for (int i = 0; i < 240; ++i) {
            rig.Frame(0.25);
            bottomBanner |= rig.scene.bannerShown && !rig.scene.bannerAtTop;
            card = std::max(card, rig.scene.cardAlpha);
        }
        EXPECT_EQ(allocations, start);
        EXPECT_TRUE(bottomBanner);
        EXPECT_EQ(card, 1.0f);
    }
}
