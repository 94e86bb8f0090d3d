// WATERCLASS::DrawSurface and DrawCaustics: the mesh of the last step as one
// indexed triangle strip from client-side vertex arrays, the second with
// colours of its own. Needs OpenGL 1.1 and a current context; sets no state
// apart from the client arrays (the colour array is left off). Also what the
// water drawn on the processor reads of the context: its state, a texture.
#include <GL/gl.h>

#include <cstddef>
#include <vector>

#include "water/water.h"
#include "water/water_raster.h"

bool WATERCLASS::DrawSurface() {
    if (!Ready()) return false;
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    const GLsizei stride = sizeof(WATERVERTEX);
    glVertexPointer(3, GL_FLOAT, stride, &Vertices[0].Position);
    glNormalPointer(GL_FLOAT, stride, &Vertices[0].Normal);
    glTexCoordPointer(2, GL_FLOAT, stride, &Vertices[0].TexCoord);
    // The last pair only closes the innermost ring with degenerate triangles.
    glDrawElements(GL_TRIANGLE_STRIP, static_cast<GLsizei>(IndexCount - 2), GL_UNSIGNED_SHORT,
                   Indices);
    return true;
}

bool WATERCLASS::DrawCaustics() {
    if (!Ready() || Caustics == nullptr) return false;
    glEnableClientState(GL_COLOR_ARRAY);
    glColorPointer(3, GL_FLOAT, 0, Caustics);
    DrawSurface();
    glDisableClientState(GL_COLOR_ARRAY);
    return true;
}

WaterRasterState CaptureWaterRasterState() {
    WaterRasterState s{};
    glGetFloatv(GL_MODELVIEW_MATRIX, s.modelView);
    glGetFloatv(GL_PROJECTION_MATRIX, s.projection);
    glGetIntegerv(GL_VIEWPORT, s.viewport);
    GLint cullFace = GL_BACK, frontFace = GL_CCW;
    glGetIntegerv(GL_CULL_FACE_MODE, &cullFace);
    glGetIntegerv(GL_FRONT_FACE, &frontFace);
    s.cullBack = glIsEnabled(GL_CULL_FACE) == GL_TRUE && cullFace == GL_BACK && frontFace == GL_CCW;
    s.lighting = glIsEnabled(GL_LIGHTING) == GL_TRUE && glIsEnabled(GL_LIGHT0) == GL_TRUE;
    glGetLightfv(GL_LIGHT0, GL_POSITION, s.lightPosition);
    glGetLightfv(GL_LIGHT0, GL_AMBIENT, s.lightAmbient);
    glGetLightfv(GL_LIGHT0, GL_DIFFUSE, s.lightDiffuse);
    glGetFloatv(GL_LIGHT_MODEL_AMBIENT, s.sceneAmbient);
    glGetFloatv(GL_CURRENT_COLOR, s.colour);
    return s;
}

WaterPicture CopyWaterPicture(uint32_t texture, std::vector<uint32_t>* texels) {
    if (texture == 0 || glIsTexture(texture) != GL_TRUE) return {};
    GLint bound = 0, width = 0, height = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    WaterPicture picture;
    if (width > 0 && height > 0 && (width & (width - 1)) == 0 && (height & (height - 1)) == 0) {
        // Rows one texel longer, for RepeatFirstTexels.
        texels->assign(static_cast<size_t>(width + 1) * static_cast<size_t>(height), 0);
        GLint rowLength = 0, alignment = 4;
        glGetIntegerv(GL_PACK_ROW_LENGTH, &rowLength);
        glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glPixelStorei(GL_PACK_ROW_LENGTH, width + 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_BYTE, texels->data());
        glPixelStorei(GL_PACK_ROW_LENGTH, rowLength);
        glPixelStorei(GL_PACK_ALIGNMENT, alignment);
        picture = {texels->data(), static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
        RepeatFirstTexels(texels->data(), picture.width, picture.height);
    }
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
    return picture;
}
