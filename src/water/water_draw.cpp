// WATERCLASS::DrawSurface: the mesh of the last step as one indexed triangle
// strip from client-side vertex arrays. Needs OpenGL 1.1 and a current
// context; sets no state apart from the three client arrays.
#include <GL/gl.h>

#include <cstddef>

#include "water/water.h"

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
