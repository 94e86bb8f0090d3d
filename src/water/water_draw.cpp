// WATERCLASS::DrawSurface and DrawCaustics: the mesh of the last step as one
// indexed triangle strip from client-side vertex arrays, the second with
// colours of its own. Needs OpenGL 1.1 and a current context; sets no state
// apart from the client arrays (the colour array is left off).
#include <GL/gl.h>

#include <cstddef>

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
