// The player's public vocabulary: play states, driver choices and the event handler types.
// No behaviour lives here.
#pragma once

#include <QImage>
#include <cstdint>
#include <functional>

class TCustomPlayer;

enum TPlayState { psPlay, psPause, psResume, psStep, psStop, psEnd };
enum TAudioDriver { adDefault, adDirectSound, adWaveOut };
enum TVideoDriver { vdDefault, vdDirectDraw, vdGDI };
using TAudioVolume = int; // 0 .. 128, 128 = unchanged

using THookEvent = std::function<void(TCustomPlayer *Sender, QImage &ABitmap, int64_t APTS)>;
using TFileOpenEvent =
    std::function<void(TCustomPlayer *Sender, int64_t ADuration, int AFrameWidth,
                       int AFrameHeight, int &AScreenWidth, int &AScreenHeight)>;
using TPlayStateEvent = std::function<void(TCustomPlayer *Sender, TPlayState AState)>;
using TPositionEvent = std::function<void(TCustomPlayer *Sender, int64_t APTS)>;

// The library's seek flags as the windows pass them.
enum TSeekFlag { sfBackward = 1, sfByte = 2, sfAny = 4, sfFrame = 8 };
