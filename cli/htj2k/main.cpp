// velmo-htj2k: decodes one HTJ2K (or JPEG 2000) frame for Velmo in a process of its
// own, so a decoder that stops on a damaged stream takes only this process with it.
// Reads the request on standard input, writes the frame on standard output; exit
// status 0 only when the whole frame was written.
#include "dicom/htj2k_child.h"

int main() { return velmo::RunHtj2kHelper(0, 1); }
