// A wave sound held as the bytes of a RIFF wave file in memory, and the wave
// list whose items each hold one.
//
// Stored forms: plain with length (a 32-bit length and the file's bytes; an
// empty wave writes length 0), plain without length (the bytes only), and
// compressed (a compressed section of the bytes). In form data the plain form
// with length travels in the binary property "Data".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "components/KitObject.h"
#include "components/kitcont.h"
#include "framework/Classes.h"
#include "framework/SysUtils.h"

namespace vexa {

VEXA_DECLARE_EXCEPTION(EErrorCheckingWave, fw::Exception);
VEXA_DECLARE_EXCEPTION(EInvalidWave, fw::Exception);

class TKitWave : public TKitObject {
public:
  TKitWave() = default;
  // Stops the sound if it plays from this wave's memory.
  ~TKitWave() override;
  // An empty wave, then LoadFromFile.
  static std::unique_ptr<TKitWave> CreateFromFile(const std::string& FileName);

  // Empty without data or with data of size 0.
  bool IsEmpty() const;
  int64_t GetSize() const;
  // The data, at position 0 when taken; null when none.
  fw::TMemoryStream* Data() const { return FData.get(); }
  // Stops a sound playing from memory, replaces the data, notifies.
  void SetData(std::unique_ptr<fw::TMemoryStream> Value);
  void Clear() { SetData(nullptr); }

  // Reads Size bytes from Stream's position and takes them when they form a
  // wave file; answers whether they were taken (the wave keeps its data
  // otherwise). A Size of 0 or an empty Stream clears the wave; a Size
  // beyond the stream raises EReadError.
  bool LoadFromStreamSized(int64_t Size, fw::TStream* Stream);
  virtual bool LoadFromFile(const std::string& FileName);
  // From the stream's position to its end.
  virtual bool LoadFromStream(fw::TStream* Stream);
  virtual void SaveToFile(const std::string& FileName);
  // The bytes without length; nothing for an empty wave.
  virtual void SaveToStream(fw::TStream* Stream);
  // The plain form with length.
  virtual void ReadData(fw::TStream* Stream);
  virtual void WriteData(fw::TStream* Stream);
  void SaveCompressed(fw::TStream* Stream);
  void LoadCompressed(fw::TStream* Stream);

  // From a wave: a fresh copy of its bytes; null clears; others raise.
  void Assign(fw::TPersistent* Source) override;
  // "Data": the plain form with length, stored while the wave holds data.
  void DefineProperties(TKitFiler* Filer) override;

  // The error made when bytes are refused ("EInvalidWave: Cannot open file %s").
  const std::string& LastError() const { return FLastError; }

private:
  std::unique_ptr<fw::TMemoryStream> FData;
  std::string FLastError;
};

// True when Stream holds the header of a wave file ("RIFF", size, "WAVE",
// "fmt ", chunk size, 14 bytes of format); Stream is left at position 0.
// A header cut short raises EErrorCheckingWave.
bool KitCheckWaveData(fw::TMemoryStream* Stream);

void WriteWaveSection(fw::TStream* Stream, TKitWave* Wave, bool Compressed);
void ReadWaveSection(fw::TStream* Stream, TKitWave* Wave, bool Compressed);

class TKitWaveListItem : public TKitListItem {
public:
  explicit TKitWaveListItem(fw::TComponent* AOwner);
  ~TKitWaveListItem() override;

  void ClearData() override;
  bool IsEmpty() override;
  uint8_t GetFlags() override;
  // Header, then the wave section when the wave is not empty.
  void WriteData(fw::TStream* Stream) override;
  void ReadData(fw::TStream* Stream) override;
  void Assign(fw::TPersistent* Source) override;
  // "Internal": the stored item.
  void DefineProperties(TKitFiler* Filer) override;

  TKitWave* Wave() { return FWave.get(); }
  void SetWave(TKitWave* Value) { FWave->Assign(Value); }

private:
  std::unique_ptr<TKitWave> FWave;
};

class TKitWaveList : public TKitCustomContainer {
public:
  explicit TKitWaveList(fw::TComponent* AOwner);
  TKitWaveListItem* Items(int Index) const {
    return static_cast<TKitWaveListItem*>(GetListItem(Index));
  }
};

}  // namespace vexa
