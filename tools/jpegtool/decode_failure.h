// decode_failure.h - the one line jpegtool prints when the codec cannot read
// a file. What a person needs first comes first: a file that is not a JPEG
// at all says so with its first two bytes, then the codec's own text in
// parentheses; a JPEG coded in a way the codec does not decode gets its kind
// after the codec's text. decode, thumb and recompress report through here;
// info says the same from its walker (NotJpegReason, info_walker.h).
#ifndef JPEGTOOL_DECODE_FAILURE_H
#define JPEGTOOL_DECODE_FAILURE_H

#include <string>

#include "file_io.h"
#include "tool_error.h"

namespace jpegtool {

// "VERB failed: not a JPEG file: starts with 0x68 0x65 (CODEC TEXT)", or
// "VERB failed: CODEC TEXT", with " (a lossless JPEG: only baseline, ...)"
// for a frame kind the codec does not decode. head: the first bytes of the
// input as far as they were read (for ASCII85 input, the bytes its text
// decodes to, not the text).
std::string DescribeDecodeFailure(const std::string& verb, const std::string& codecText, const Bytes& head);

// Throws a codec failure of verb (a ToolError "VERB failed: CODEC TEXT")
// described as above; any other failure (a read or write error) unchanged.
[[noreturn]] void RethrowDecodeFailure(const ToolError& error, const std::string& verb, const Bytes& head);

}  // namespace jpegtool

#endif
