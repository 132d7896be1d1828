// A label showing one item of the system information, optionally after its
// caption; lock-key and clock items refresh themselves and repaint only when
// their value changes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "components/Kit3DCaption.h"
#include "components/KitBaseLabel.h"
#include "components/KitBevel.h"
#include "components/kitsysin.h"

namespace vexa {

class TKitInformationLabel : public TKitBaseLabel {
public:
  // Raises EOutOfResources "Not enough timers available" when the
  // application's pool has no timer left.
  explicit TKitInformationLabel(fw::TComponent* AOwner);
  ~TKitInformationLabel() override;

  void Paint() override;
  void PropChanged(fw::TObject* Sender) override;
  void GetLabelText(std::string& Text) override;
  void AdjustLabelBounds() override;

  TKitInfoType Info() const { return FInfo; }
  void SetInfo(TKitInfoType Value);
  bool UseStandardCaption() const { return FUseStandardCaption; }
  void SetUseStandardCaption(bool Value);
  int8_t InsertColon() const { return FInsertColon; }
  void SetInsertColon(int8_t Value);
  int8_t InsertTabs() const { return FInsertTabs; }
  void SetInsertTabs(int8_t Value);
  int32_t DividerValue() const { return FDividerValue; }
  void SetDividerValue(int32_t Value);
  const std::string& DateTimeFormat() const { return FDateTimeFormat; }
  void SetDateTimeFormat(const std::string& Value);
  const std::string& NumberFormat() const { return FNumberFormat; }
  void SetNumberFormat(const std::string& Value);
  TKitBevel* Bevel() const { return FBevel.get(); }
  void SetBevel(TKitBevel* Value) { FBevel->Assign(Value); }
  TKit3DCaption* Font3D() const { return FFont3D.get(); }
  void SetFont3D(TKit3DCaption* Value) { FFont3D->Assign(Value); }

  // Builds the label's text; answers whether it changed (a refresh tick of a
  // lock-key or clock item with the value shown last answers false).
  bool BuildText();
  // The pool timer's handler.
  void Refresh();
  uint16_t TimerIdent() const { return FTimerId; }

private:
  TKitInfoType FInfo = itUser;
  bool FUseStandardCaption = true;
  int8_t FInsertColon = -1;
  int8_t FInsertTabs = 1;
  int32_t FDividerValue = 0;
  std::string FDateTimeFormat;
  std::string FNumberFormat;
  std::unique_ptr<TKitBevel> FBevel;
  std::unique_ptr<TKit3DCaption> FFont3D;
  uint16_t FTimerId = 0;
  bool FRefreshTick = false;
  std::string FLastValue;
  std::string FText;
};

// Passes Value through a digit mask: "0" takes one digit from the right (a
// "0" in front when none is left), any other character is inserted there.
std::string KitApplyDigitMask(const std::string& Value, const std::string& Mask);

}  // namespace vexa
