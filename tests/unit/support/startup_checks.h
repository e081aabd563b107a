// Checks the swarm and n-body start-up tests share: what a program's initialisation leaves
// in the two shared buffers and on the device. Each needs the GL window and a finished
// initialisation (initSwarm or initBodies).
#pragma once

#include <GL/glew.h>

#include <cuda_runtime.h>

#include <vector>

// The first `count` elements of a buffer object; the array-buffer binding is set back to
// `binding` afterwards.
std::vector<float4> readBuffer(GLuint buffer, int count, GLint binding);

// Both buffers exist, are `count` elements long and registered (they map and unmap), posVbo
// was left bound (`binding`, read right after the initialisation), and posVbo holds x, y and z
// of hostPos (w is never written, so it is not checked).
void expectSharedBuffers(int count, const float4* hostPos, GLint binding);

// devVel holds hostVel bit for bit.
void expectDeviceCopy(const float4* devVel, const float4* hostVel, int count);
