// Who the program is to the desktop: the name the sound server, volume
// controls and the event sounds show it by, and its id, the name of its
// desktop entry (org.example.Larkspan.desktop) and of its icon.
#pragma once

namespace port {

constexpr char kProgramName[] = "Larkspan";
constexpr char kProgramId[] = "org.example.Larkspan";
// Its streams on the sound server, as a volume control lists them.
constexpr char kCaptureStreamName[] = "Larkspan capture";
constexpr char kPlaybackStreamName[] = "Larkspan playback";

}  // namespace port
