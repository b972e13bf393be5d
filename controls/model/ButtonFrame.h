// Which frame of a four-frame button strip to draw: 0 normal, 1 hovered,
// 2 pressed or checked, 3 disabled look.
#pragma once

constexpr int kFrameNormal = 0;
constexpr int kFrameHover = 1;
constexpr int kFramePressed = 2;
constexpr int kFrameDisabled = 3;

constexpr int ChooseButtonFrame(bool disabledLook, bool pressed, bool checked, bool hover) {
  if (disabledLook) return kFrameDisabled;
  if (pressed || checked) return kFramePressed;
  if (hover) return kFrameHover;
  return kFrameNormal;
}

// Source rectangle of a frame in a strip `imageWidth` wide: frames are
// imageWidth / 4 pixels wide (integer division), left to right.
struct StripFrame {
  int x, y, width, height;
};
constexpr StripFrame ButtonFrameRect(int frame, int imageWidth, int imageHeight) {
  return StripFrame{frame * (imageWidth / 4), 0, imageWidth / 4, imageHeight};
}
