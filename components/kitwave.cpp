#include "components/kitwave.h"

#include <cstring>

#include "components/kitprocs.h"
#include "platform/kernel/Sound.h"

namespace vexa {

namespace {

const char kCannotOpen[] = "Cannot open file %s";

// Nothing may go on playing from memory that is about to be freed or replaced.
void StopMemorySound() { plat::sndPlaySound(nullptr, plat::SND_MEMORY); }

}  // namespace

bool KitCheckWaveData(fw::TMemoryStream* Stream) {
  if (Stream->Size() == 0) return false;
  Stream->SetPosition(0);
  bool ok = true;
  try {
    char id[4];
    uint8_t skip[14];
    Stream->ReadBuffer(id, 4);
    if (std::memcmp(id, "RIFF", 4) != 0) ok = false;
    if (ok) {
      Stream->ReadBuffer(skip, 4);  // RIFF size
      Stream->ReadBuffer(id, 4);
      if (std::memcmp(id, "WAVE", 4) != 0) ok = false;
    }
    if (ok) {
      Stream->ReadBuffer(id, 4);
      if (std::memcmp(id, "fmt ", 4) != 0) ok = false;
    }
    if (ok) {
      Stream->ReadBuffer(skip, 4);   // format chunk size
      Stream->ReadBuffer(skip, 14);  // tag, channels, rate, bytes per second, block align
    }
  } catch (const fw::EStreamError&) {
    Stream->SetPosition(0);
    throw EErrorCheckingWave(std::string("GetWaveData: ") + kCannotOpen);
  }
  Stream->SetPosition(0);
  return ok;
}

// ---- TKitWave --------------------------------------------------------------------

TKitWave::~TKitWave() {
  if (FData) StopMemorySound();
}

std::unique_ptr<TKitWave> TKitWave::CreateFromFile(const std::string& FileName) {
  auto w = std::make_unique<TKitWave>();
  w->LoadFromFile(FileName);
  return w;
}

bool TKitWave::IsEmpty() const { return !FData || FData->Size() == 0; }

int64_t TKitWave::GetSize() const { return IsEmpty() ? 0 : FData->Size(); }

void TKitWave::SetData(std::unique_ptr<fw::TMemoryStream> Value) {
  if (FData) StopMemorySound();
  FData = std::move(Value);
  if (FData) FData->SetPosition(0);
  NotifyChange();
}

bool TKitWave::LoadFromStreamSized(int64_t Size, fw::TStream* Stream) {
  if (Stream->Size() == 0 || Size == 0) {
    Clear();
    return true;
  }
  if (Size < 0 || Size > Stream->Size() - Stream->Position() || Size > INT32_MAX)
    throw fw::EReadError("Stream read error");
  auto data = std::make_unique<fw::TMemoryStream>();
  data->SetSize(Size);
  Stream->ReadBuffer(data->Memory(), int32_t(Size));
  data->SetPosition(0);
  if (!KitCheckWaveData(data.get())) {
    FLastError = std::string("EInvalidWave: ") + kCannotOpen;
    return false;
  }
  FLastError.clear();
  SetData(std::move(data));
  return true;
}

bool TKitWave::LoadFromFile(const std::string& FileName) {
  fw::TFileStream file(FileName, uint16_t(48));
  return LoadFromStreamSized(file.Size(), &file);
}

bool TKitWave::LoadFromStream(fw::TStream* Stream) {
  int64_t left = Stream->Size() - Stream->Position();
  if (left < 0) left = 0;
  if (left == 0) {
    Clear();
    return true;
  }
  return LoadFromStreamSized(left, Stream);
}

void TKitWave::SaveToFile(const std::string& FileName) {
  fw::TFileStream file(FileName, fw::fmCreate);
  SaveToStream(&file);
}

void TKitWave::SaveToStream(fw::TStream* Stream) {
  if (IsEmpty()) return;
  Stream->WriteBuffer(FData->Memory(), int32_t(FData->Size()));
}

void TKitWave::ReadData(fw::TStream* Stream) {
  int32_t n = ReadStreamInt(Stream);
  LoadFromStreamSized(n, Stream);
}

void TKitWave::WriteData(fw::TStream* Stream) {
  WriteStreamInt(Stream, int32_t(GetSize()));
  SaveToStream(Stream);
}

void TKitWave::SaveCompressed(fw::TStream* Stream) {
  fw::TMemoryStream data;
  SaveToStream(&data);
  data.SetPosition(0);
  WriteCompressedSection(&data, Stream, int32_t(data.Size()));
}

void TKitWave::LoadCompressed(fw::TStream* Stream) {
  fw::TMemoryStream data;
  ReadCompressedSection(Stream, &data);
  data.SetPosition(0);
  LoadFromStream(&data);
}

void TKitWave::Assign(fw::TPersistent* Source) {
  if (Source == this) return;
  if (!Source) {
    Clear();
    return;
  }
  if (auto* s = dynamic_cast<TKitWave*>(Source)) {
    if (s->IsEmpty()) {
      Clear();
      return;
    }
    auto copy = std::make_unique<fw::TMemoryStream>();
    copy->WriteBuffer(s->FData->Memory(), int32_t(s->FData->Size()));
    s->FData->SetPosition(0);
    SetData(std::move(copy));
    return;
  }
  TKitObject::Assign(Source);
}

void TKitWave::DefineProperties(TKitFiler* Filer) {
  TKitObject::DefineProperties(Filer);
  Filer->DefineBinaryProperty(
      "Data", [this](fw::TStream* s) { ReadData(s); }, [this](fw::TStream* s) { WriteData(s); },
      FData != nullptr);
}

void WriteWaveSection(fw::TStream* Stream, TKitWave* Wave, bool Compressed) {
  if (Compressed)
    Wave->SaveCompressed(Stream);
  else
    Wave->WriteData(Stream);
}

void ReadWaveSection(fw::TStream* Stream, TKitWave* Wave, bool Compressed) {
  if (Compressed)
    Wave->LoadCompressed(Stream);
  else
    Wave->ReadData(Stream);
}

// ---- TKitWaveListItem -------------------------------------------------------------

TKitWaveListItem::TKitWaveListItem(fw::TComponent* AOwner)
    : TKitListItem(AOwner), FWave(std::make_unique<TKitWave>()) {}

TKitWaveListItem::~TKitWaveListItem() = default;

void TKitWaveListItem::ClearData() { FWave->Clear(); }

bool TKitWaveListItem::IsEmpty() { return FWave->IsEmpty(); }

uint8_t TKitWaveListItem::GetFlags() {
  uint8_t f = TKitListItem::GetFlags();
  if (!FWave->IsEmpty()) f |= kifData;
  return f;
}

void TKitWaveListItem::WriteData(fw::TStream* Stream) {
  uint8_t f = GetFlags();
  WriteHeader(Stream);
  if (f & kifData) WriteWaveSection(Stream, FWave.get(), FCompressed);
}

void TKitWaveListItem::ReadData(fw::TStream* Stream) {
  uint8_t f = ReadHeader(Stream);
  if (f & kifData)
    ReadWaveSection(Stream, FWave.get(), (f & kifCompressed) != 0);
  else
    FWave->Clear();
}

void TKitWaveListItem::Assign(fw::TPersistent* Source) {
  if (Source == this) return;
  if (auto* s = dynamic_cast<TKitWaveListItem*>(Source)) {
    AssignCommon(s);
    FWave->Assign(s->FWave.get());
    return;
  }
  TKitListItem::Assign(Source);
}

void TKitWaveListItem::DefineProperties(TKitFiler* Filer) {
  TKitListItem::DefineProperties(Filer);
  DefineStoredItem(Filer);
}

// ---- TKitWaveList ---------------------------------------------------------------------

TKitWaveList::TKitWaveList(fw::TComponent* AOwner)
    : TKitCustomContainer(AOwner, klkWaveList, KitItemClass<TKitWaveListItem>()) {}

}  // namespace vexa
