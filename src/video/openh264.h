// Encoder objects of the OpenH264 library, loaded at run time by file name.
#pragma once

// Loads the library into `library` when it is null, then creates an encoder
// object (an ISVCEncoder*) with the library's warnings off. Null on failure;
// the library stays loaded either way until the caller closes it.
void* openh264_create(void*& library);
// Uninitialises and destroys an encoder object of that library.
void openh264_destroy(void* library, void* encoder);
