// The base of the library's labels: caption text state, alignment in nine
// positions, ellipsis options, an accelerator that focuses another control,
// font handling and the twinkle (the caption switched between shown and
// hidden, or a second colour, by the application's timer pool).
#pragma once

#include <cstdint>
#include <string>

#include "components/Kit3DCaption.h"
#include "components/KitBaseGraphicControl.h"
#include "components/KitTypes.h"

namespace vexa {

class TKitBevel;

enum TKitLabelOption { loPathEllipsis, loEndEllipsis, loEditControl };
using TKitLabelOptions = fw::TSet<TKitLabelOption>;

// The pool's refusal of a twinkle interval.
constexpr const char* SKitIntervalNotCompatible =
    "Interval not compatible with MinInterval property!";

class TKitBaseLabel : public TKitBaseGraphicControl {
public:
  explicit TKitBaseLabel(fw::TComponent* AOwner);
  ~TKitBaseLabel() override;

  void WndProc(fw::TMessage& Message) override;
  void PropChanged(fw::TObject* Sender) override;
  bool IsEmptyTransparent() override;

  // The text the label shows (its caption here).
  virtual void GetLabelText(std::string& Text);
  virtual void FontChanged(fw::TObject* Sender);
  // Sizes the label to its text when AutoSize is set (nothing here).
  virtual void AdjustLabelBounds();

  // The accelerator: true (handled) when Key is the caption's accelerator
  // and FocusControl took the focus.
  bool DialogChar(char Key);

  bool ShowAccelChar() const { return FShowAccelChar; }
  void SetShowAccelChar(bool Value);
  bool Twinkle() const { return FTwinkle; }
  void SetTwinkle(bool Value);
  bool MultiLine() const { return FMultiLine; }
  void SetMultiLine(bool Value);
  TKitAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TKitAlignment Value);
  TKitLabelOptions Options() const { return FOptions; }
  void SetOptions(TKitLabelOptions Value);
  int32_t TwinkleVisible() const { return FTwinkleVisible; }
  void SetTwinkleVisible(int32_t Value) { FTwinkleVisible = Value; }
  int32_t TwinkleInVisible() const { return FTwinkleInVisible; }
  void SetTwinkleInVisible(int32_t Value) { FTwinkleInVisible = Value; }
  fw::TColor TwinkleColor() const { return FTwinkleColor; }
  void SetTwinkleColor(fw::TColor Value) { FTwinkleColor = Value; }
  fw::TWinControl* FocusControl() const { return FFocusControl; }
  void SetFocusControl(fw::TWinControl* Value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);

  // True while the caption is in its shown phase.
  bool TwinkleShown() const { return FTwinkleShown; }
  // The pool timer of the twinkle (-1 for none).
  int32_t TwinkleTimer() const { return FTimerId; }
  // One twinkle tick (the pool calls it).
  void TwinkleTick();

  // Text format flags of the options.
  uint32_t OptionFlags() const;

protected:
  // The label's text measured as Caption draws it with Format inside a border
  // Margin wide, widened by the gap a status-bar parent asks for: the size
  // AutoSize gives the label.
  fw::TRect MeasureLabel(TKit3DCaption* Caption, uint32_t Format, int32_t Margin);
  // The first steps of painting a label's text: the canvas takes the font, an
  // opaque label fills its area; answers the area the text goes in, after the
  // gap a status-bar parent asks for.
  fw::TRect BeginTextPaint();
  // Bevel, when it has a width, painted round R (keeping the corners when it
  // has the label's colour or the label is transparent); R becomes the area
  // inside it. False when there was no bevel to paint.
  bool PaintInsideBevel(TKitBevel* Bevel, fw::TRect& R);
  // R's part that Text takes when Caption draws it with Format at the label's
  // alignment.
  fw::TRect AlignedText(const std::string& Text, TKit3DCaption* Caption, uint32_t Format,
                        const fw::TRect& R);
  // Format with the bits of the options and the alignment, tabs expanded,
  // words wrapped and, without ShowAccelChar, "&" drawn as itself.
  uint32_t TextFormat(uint32_t Format) const;

  void Loaded() override;
  void Notification(fw::TComponent* AComponent, fw::TOperation Operation) override;
  void RemoveTwinkleTimer();

private:
  bool FShowAccelChar = true;
  bool FTwinkle = false;
  bool FMultiLine = false;
  TKitAlignment FAlignment = agTopLeft;
  TKitLabelOptions FOptions;
  int32_t FTimerId = -1;
  int32_t FTwinkleVisible = 700;
  int32_t FTwinkleInVisible = 700;
  fw::TColor FTwinkleColor = fw::clNone;
  fw::TWinControl* FFocusControl = nullptr;
  bool FAutoSize = true;
  bool FTwinkleShown = true;
};

// Text format bits of the nine alignments, with the vertical ones.
uint32_t KitLabelAlignmentFlags(TKitAlignment Alignment);
// The gap a status-bar parent asks its labels to keep (0 for other parents).
int32_t KitParentControlGap(fw::TControl* Control);

// The accelerator character of a caption ("&x" marks x; "&&" is a plain "&"),
// lower-cased, or 0 when the caption has none.
char KitAccelChar(const std::string& Caption);

}  // namespace vexa
