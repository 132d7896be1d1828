// The 3D effect of a text with rotation.
#pragma once

#include <cstdint>

#include "components/Kit3DCaption.h"

namespace vexa {

class TKitFxCaption : public TKit3DCaption {
public:
  TKitFxCaption() = default;
  // From an FX caption: the caption's values plus PosX, PosY and Angle, one
  // change event; from a plain 3D caption as that class does.
  void Assign(fw::TPersistent* Source) override;
  // The caption's text, with " rot: <angle>°" inside the braces when turned.
  void GetDisplayString(std::string& Text) override;

  // Degrees 0..359; 360 (and any other value) is taken modulo 360.
  TKitAngle Angle() const { return FAngle; }
  void SetAngle(TKitAngle Value);
  uint16_t PosX() const { return FPosX; }
  void SetPosX(uint16_t Value) { SetField(FPosX, Value); }
  uint16_t PosY() const { return FPosY; }
  void SetPosY(uint16_t Value) { SetField(FPosY, Value); }
  // Sets both without a change event.
  void SetPosition(uint16_t X, uint16_t Y);

private:
  TKitAngle FAngle = 0;
  uint16_t FPosX = 0;
  uint16_t FPosY = 0;
};

}  // namespace vexa
