#include "document/RecordingSignature.h"

#include "document/ByteReader.h"
#include "document/NativeFormat.h"

namespace phonaxis {

bool mayBeRecording(ByteView prefix)
{
    const ByteReader file(prefix);
    // The native files: a NUL-terminated signature at offset 0.
    for (const std::string_view signature :
         {native::kMacSignature, native::kPcSignature, native::kPcFloatSignature,
          native::kUsb2FloatSignature}) {
        const auto terminator = file.u8(signature.size());
        if (file.matches(0, signature) && terminator && *terminator == 0) {
            return true;
        }
    }
    if (file.matches(0, "RIFF") && file.matches(8, "WAVE")) {
        return true;
    }
    if (file.matches(0, "FORM") && (file.matches(8, "AIFF") || file.matches(8, "AIFC"))) {
        return true;
    }
    return mayBeOldPmf(prefix);
}

} // namespace phonaxis
