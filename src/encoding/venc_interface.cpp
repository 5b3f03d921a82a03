#include "encoding/venc_interface.h"

#include <climits>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <unistd.h>

#include "encoding/venc_xvid_encoder.h"

namespace {

// Handles map to their encoder objects (null until the first BeginEncoding). The table is the
// only owner of the encoders. It is made on first use and never destroyed, so that a handle
// still in use while the process exits cannot meet a destroyed table.
struct EncoderTable {
    std::mutex lock;
    std::map<int32_t, Venc_BaseEncoder*> encoders;
    int32_t nextHandle = 0;
    bool handlesExhausted = false;
};

EncoderTable& Table() {
    static EncoderTable* table = new EncoderTable;
    return *table;
}

Venc_Status Venc_MakeEncoder(int32_t codecKind, Venc_BaseEncoder** encoder) {
    if (codecKind != Venc_Codec_Xvid) {
        return Venc_Status_BadArgument;
    }
    *encoder = new (std::nothrow) Venc_XvidEncoder;
    return *encoder != nullptr ? Venc_Status_Ok : Venc_Status_NoMemory;
}

// Looks up a handle under the table lock; with makeFor set, a handle without an encoder gets
// one for that codec kind. The encoder itself is used outside the lock: each handle is driven
// by one thread at a time, and only FreeEncoder destroys its encoder.
Venc_Status LookUpEncoder(int32_t handle, const int32_t* makeFor, Venc_BaseEncoder** encoder) {
    EncoderTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto entry = table.encoders.find(handle);
    if (entry == table.encoders.end()) {
        return Venc_Status_BadHandle;
    }
    if (entry->second == nullptr) {
        if (makeFor == nullptr) {
            return Venc_Status_WrongState;
        }
        const Venc_Status made = Venc_MakeEncoder(*makeFor, &entry->second);
        if (made != Venc_Status_Ok) {
            entry->second = nullptr;
            return made;
        }
    }
    *encoder = entry->second;
    return Venc_Status_Ok;
}

Venc_Status FindEncoder(int32_t handle, Venc_BaseEncoder** encoder) {
    return LookUpEncoder(handle, nullptr, encoder);
}

// The handle's encoder, made for codecKind when the handle has none yet.
Venc_Status EncoderForBegin(int32_t handle, int32_t codecKind, Venc_BaseEncoder** encoder) {
    return LookUpEncoder(handle, &codecKind, encoder);
}

// Venc_PutFrame and Venc_PutKeyFrame: the picture is checked before the handle.
Venc_Status PutPicture(int32_t handle, const Venc_Picture* picture, int32_t* encodedSize,
                       bool keyFrame) {
    if (picture == nullptr) {
        return Venc_Status_BadArgument;
    }
    Venc_BaseEncoder* encoder = nullptr;
    const Venc_Status found = FindEncoder(handle, &encoder);
    if (found != Venc_Status_Ok) {
        return found;
    }
    return keyFrame ? encoder->PutKeyFrame(*picture, encodedSize)
                    : encoder->PutFrame(*picture, encodedSize);
}

}  // namespace

int32_t Venc_LibraryVersion() {
    return kVencLibraryVersion;
}

int32_t Venc_ApiVersion() {
    return kVencApiVersion;
}

bool Venc_HandleExists(int32_t handle) {
    EncoderTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    return table.encoders.count(handle) != 0;
}

Venc_Status Venc_NewEncoder(int32_t* handleOut) {
    if (handleOut == nullptr) {
        return Venc_Status_BadArgument;
    }
    EncoderTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    // Handles are never given out twice; after the largest one there are no more.
    if (table.handlesExhausted) {
        return Venc_Status_Failure;
    }
    const int32_t handle = table.nextHandle;
    table.encoders.emplace(handle, nullptr);
    if (table.nextHandle == INT32_MAX) {
        table.handlesExhausted = true;
    } else {
        ++table.nextHandle;
    }
    *handleOut = handle;
    return Venc_Status_Ok;
}

void Venc_ResetParams(Venc_Settings* settings) {
    if (settings == nullptr) {
        return;
    }
    settings->frameWidth = 1;
    settings->frameHeight = 1;
    settings->framesPerSecond = 30.0f;
    settings->qualityLevel = 1.0f;
    settings->codecKind = Venc_Codec_Xvid;
    settings->withAudio = 0;
    settings->sampleRate = 44100;
    settings->sampleBits = 16;
    settings->channelCount = 2;
    settings->formatTag = 0;
}

Venc_Status Venc_BeginEncoding(int32_t handle, const char* fileName,
                               const Venc_Settings* settings) {
    if (fileName == nullptr || settings == nullptr) {
        return Venc_Status_BadArgument;
    }
    Venc_BaseEncoder* encoder = nullptr;
    const Venc_Status found = EncoderForBegin(handle, settings->codecKind, &encoder);
    if (found != Venc_Status_Ok) {
        return found;
    }
    return encoder->BeginEncoding(std::string(fileName), *settings);
}

Venc_Status Venc_BeginEncodingInto(int32_t handle, int fd, const char* fileName,
                                   const Venc_Settings* settings) {
    Venc_BaseEncoder* encoder = nullptr;
    const Venc_Status found = fileName == nullptr || settings == nullptr || fd < 0
                                  ? Venc_Status_BadArgument
                                  : EncoderForBegin(handle, settings->codecKind, &encoder);
    if (found != Venc_Status_Ok) {
        if (fd >= 0) {
            close(fd);
        }
        return found;
    }
    return encoder->BeginEncodingInto(fd, std::string(fileName), *settings);
}

Venc_Status Venc_PutFrame(int32_t handle, const Venc_Picture* picture, int32_t* encodedSize) {
    return PutPicture(handle, picture, encodedSize, false);
}

Venc_Status Venc_PutKeyFrame(int32_t handle, const Venc_Picture* picture, int32_t* encodedSize) {
    return PutPicture(handle, picture, encodedSize, true);
}

int32_t Venc_KeyFrameDue(int32_t handle) {
    Venc_BaseEncoder* encoder = nullptr;
    return FindEncoder(handle, &encoder) == Venc_Status_Ok && encoder->IsEncoding() &&
                   encoder->KeyFrameDue()
               ? 1
               : 0;
}

Venc_Status Venc_PutRepeatFrame(int32_t handle) {
    Venc_BaseEncoder* encoder = nullptr;
    const Venc_Status found = FindEncoder(handle, &encoder);
    if (found != Venc_Status_Ok) {
        return found;
    }
    return encoder->PutRepeatFrame();
}

const char* Venc_FailureReason(int32_t handle) {
    Venc_BaseEncoder* encoder = nullptr;
    if (FindEncoder(handle, &encoder) != Venc_Status_Ok) {
        return "";
    }
    return encoder->FailureReason().c_str();
}

Venc_Status Venc_PutAudio(int32_t handle, const void* data, int32_t byteCount,
                          int64_t* audioTotal) {
    Venc_BaseEncoder* encoder = nullptr;
    const Venc_Status found = FindEncoder(handle, &encoder);
    if (found != Venc_Status_Ok) {
        return found;
    }
    return encoder->PutAudio(data, byteCount, audioTotal);
}

Venc_Status Venc_FinishEncoding(int32_t handle, int64_t* totalBytes, int32_t* framesKept) {
    Venc_BaseEncoder* encoder = nullptr;
    const Venc_Status found = FindEncoder(handle, &encoder);
    if (found != Venc_Status_Ok) {
        return found;
    }
    return encoder->FinishEncoding(totalBytes, framesKept);
}

Venc_Status Venc_FreeEncoder(int32_t handle) {
    Venc_BaseEncoder* encoder = nullptr;
    {
        EncoderTable& table = Table();
        std::lock_guard<std::mutex> guard(table.lock);
        const auto entry = table.encoders.find(handle);
        if (entry == table.encoders.end()) {
            return Venc_Status_Ok;
        }
        encoder = entry->second;
        table.encoders.erase(entry);
    }
    delete encoder;  // an encoder still encoding finishes its file first
    return Venc_Status_Ok;
}
