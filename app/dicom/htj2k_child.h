#pragma once
// HTJ2K frames decoded in a helper process (velmo-htj2k), so that a damaged stream
// that stops the HT decoder (the decoders at hand abort on some damaged streams)
// costs one black frame instead of the whole program.
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmo {

// The helper's file name; it sits beside the running program.
inline constexpr const char* kHtj2kHelperName = "velmo-htj2k";

// Where the helper is looked for: the path given to SetHtj2kHelperPath when there
// was one, else the environment variable VELMO_HTJ2K_HELPER when set and non-empty,
// else velmo-htj2k in the folder of the running executable (/proc/self/exe).
std::string Htj2kHelperPath();
// Points the helper elsewhere (tests, tools); an empty path restores the default.
void SetHtj2kHelperPath(const std::string& path);

// What became of one frame sent to the helper.
enum class ChildDecodeStatus {
  kOk,           // the helper exited 0 and delivered exactly the frame's bytes
  kNoHelper,     // the helper could not be started
  kFailed,       // it exited with a failure status (the stream could not be decoded)
  kCrashed,      // it was ended by a signal (an abort, the memory limit)
  kTimedOut,     // it ran past its time and was killed
  kBadOutput,    // it exited 0 but delivered fewer or more bytes than the frame holds
  kPipeFailed,   // the pipes could not be made or broke on our side
};

// Decodes one JPEG 2000 codestream (HT or not) into a frame of rows x columns pixels
// of bytesPerPixel bytes (the layouts of DecodeJpeg2000) in the helper process, with
// a time limit and a memory limit sized from the frame. The frame is written only on
// kOk. The child is always reaped; SIGPIPE never reaches the calling process.
ChildDecodeStatus DecodeJpeg2000InChild(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns,
                                        int bytesPerPixel);

// The helper's side (velmo-htj2k's main): reads one request from `in`, decodes it
// and writes the frame to `out`. Returns the process exit status (0: frame written).
int RunHtj2kHelper(int in, int out);

}  // namespace velmo
