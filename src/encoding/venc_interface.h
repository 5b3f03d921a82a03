#pragma once
// Handle-based encoder interface: callers see 32-bit handles, plain records and result codes,
// never the encoder objects behind them. The handle table is safe to use from several threads;
// each handle must be driven by one thread at a time.

#include <cstdint>

#include "encoding/venc_types.h"

constexpr int32_t kVencLibraryVersion = 0x010100;
constexpr int32_t kVencApiVersion = 2;

int32_t Venc_LibraryVersion();
int32_t Venc_ApiVersion();

// Gives out a new handle (0, 1, 2, ...; never one given before).
Venc_Status Venc_NewEncoder(int32_t* handleOut);

// Fills settings with the defaults: 1 x 1, 30 fps, quality 1.0, Xvid, no audio
// (44100 Hz, 16 bits, 2 channels, format tag 0). Does nothing for null.
void Venc_ResetParams(Venc_Settings* settings);

Venc_Status Venc_BeginEncoding(int32_t handle, const char* fileName, const Venc_Settings* settings);
// The same, writing into fd, a descriptor open for reading and writing, instead of creating
// fileName (which then only names the file). The encoder takes the descriptor over: it is
// closed when the file is finished, or at once when the begin fails.
Venc_Status Venc_BeginEncodingInto(int32_t handle, int fd, const char* fileName,
                                   const Venc_Settings* settings);

// Encodes one picture and appends it to the file. encodedSize (optional) receives its size.
// The picture is coded as a key frame when one is due (Venc_KeyFrameDue).
Venc_Status Venc_PutFrame(int32_t handle, const Venc_Picture* picture, int32_t* encodedSize);
// The same, always coded as a key frame: a picture that every decoder shows, also when it
// equals the previous one.
Venc_Status Venc_PutKeyFrame(int32_t handle, const Venc_Picture* picture, int32_t* encodedSize);
// 1 when the handle's file needs a key frame next: the last one lies 239 frames back, repeat
// frames included, and a key frame comes at least every 240. A repeat frame does not serve
// there; a picture (Venc_PutFrame) does. 0 otherwise, also for an unknown handle.
int32_t Venc_KeyFrameDue(int32_t handle);

// Appends a repeat of the previous frame without encoding anything: a zero-length video frame,
// which players show as the previous picture again.
Venc_Status Venc_PutRepeatFrame(int32_t handle);

// Appends audio bytes as they come. audioTotal (optional) receives the audio bytes so far.
Venc_Status Venc_PutAudio(int32_t handle, const void* data, int32_t byteCount, int64_t* audioTotal);

// Closes the file. totalBytes (optional) receives the video and audio bytes it holds, and
// framesKept (optional) its frames: fewer than were put when a full disk or the file-size
// limit left no room for the index, and the last frames were given up for it.
Venc_Status Venc_FinishEncoding(int32_t handle, int64_t* totalBytes, int32_t* framesKept = nullptr);

// Destroys the handle's encoder (finishing its file first if it is still encoding) and
// removes the handle. Always Venc_Status_Ok.
Venc_Status Venc_FreeEncoder(int32_t handle);

// Why the handle's last failed call failed, in a few words ("No space left on device"); empty
// when nothing has failed since its encoding began, or for an unknown handle. The text stays
// valid until the handle is used again.
const char* Venc_FailureReason(int32_t handle);

// Internal operations, exposed for the front and tests.
bool Venc_HandleExists(int32_t handle);
