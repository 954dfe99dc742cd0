// The boot picture on the video plane: an MPEG-2 still (.mvi) fed to the
// hardware decoder, where it stays after the menu has ended until the booted
// system takes the decoder over.
#pragma once

namespace orbiel {

constexpr const char* video_device = "/dev/dvb/adapter0/video0";

// Starts a child process that plays the picture at path and hands the
// decoder back to the demultiplexer. Returns 4 when the picture does not
// open (or is too large), 2 when the video device does not open, else 0 at
// once, without waiting for the child.
int showiframe(const char* path);

}  // namespace orbiel
