// The two vertex buffers each program shares between OpenGL and the GPU runtime.
// createVBO makes a buffer of vboBytes (contents undefined), leaves the array-buffer
// binding at 0 and registers the buffer; deleteVBO deletes it in OpenGL, then unregisters
// it, and zeroes the name. Registration and unregistration are checked calls.
#pragma once

#include <GL/glew.h>

#include <cuda_runtime.h>

extern GLuint posVbo;    // positions, 16 bytes per particle
extern GLuint colorVbo;  // RGBA colours, four floats per particle

void createVBO(GLuint* vbo, GLenum usage);
void deleteVBO(GLuint* vbo);

// Copies x, y and z of positions[0 .. count-1] into posVbo (w is not written), through
// OpenGL's own mapping; a failed map skips the copy. Leaves posVbo bound as the array buffer.
void copyPositionsToBuffer(const float4* positions, int count);

// Draws points 0 .. count-1: x, y, z from posVbo (16 bytes apart), RGBA from colorVbo.
// Leaves the array-buffer binding on colorVbo.
void drawVertexBuffers(int count);
