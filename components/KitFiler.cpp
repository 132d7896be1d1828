#include "components/KitFiler.h"

namespace vexa {

namespace {

void PutByte(fw::TStream* s, uint8_t b) { s->WriteBuffer(&b, 1); }

void PutInt(fw::TStream* s, uint32_t v, int bytes) {
  uint8_t b[4];
  for (int i = 0; i < bytes; ++i) b[i] = uint8_t(v >> (8 * i));
  s->WriteBuffer(b, bytes);
}

uint32_t GetInt(fw::TStream* s, int bytes) {
  uint8_t b[4] = {};
  s->ReadBuffer(b, bytes);
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint32_t(b[i]) << (8 * i);
  return v;
}

void PutShort(fw::TStream* s, const std::string& text) {
  size_t n = text.size() > 255 ? 255 : text.size();
  PutByte(s, uint8_t(n));
  if (n) s->WriteBuffer(text.data(), int32_t(n));
}

// Bytes left in the stream from its position (lengths are checked against it).
int64_t Remaining(fw::TStream* s) {
  int64_t r = s->Size() - s->Position();
  return r < 0 ? 0 : r;
}

}  // namespace

// ---- TKitWriter -------------------------------------------------------------

void TKitWriter::DefineProperty(const std::string& Name, const TKitReaderProc&,
                                const TKitWriterProc& WriteData, bool HasData) {
  if (!HasData || !WriteData) return;
  PutShort(FStream, Name);
  WriteData(this);
}

void TKitWriter::DefineBinaryProperty(const std::string& Name, const TKitStreamProc&,
                                      const TKitStreamProc& WriteData, bool HasData) {
  if (!HasData || !WriteData) return;
  fw::TMemoryStream data;
  WriteData(&data);
  PutShort(FStream, Name);
  PutByte(FStream, vaBinary);
  PutInt(FStream, uint32_t(data.Size()), 4);
  if (data.Size()) FStream->WriteBuffer(data.Memory(), int32_t(data.Size()));
}

void TKitWriter::WriteListBegin() { PutByte(FStream, vaList); }
void TKitWriter::WriteListEnd() { PutByte(FStream, vaNull); }

void TKitWriter::WriteInteger(int32_t Value) {
  if (Value >= -128 && Value <= 127) {
    PutByte(FStream, vaInt8);
    PutInt(FStream, uint32_t(Value), 1);
  } else if (Value >= -32768 && Value <= 32767) {
    PutByte(FStream, vaInt16);
    PutInt(FStream, uint32_t(Value), 2);
  } else {
    PutByte(FStream, vaInt32);
    PutInt(FStream, uint32_t(Value), 4);
  }
}

void TKitWriter::WriteString(const std::string& Value) {
  if (Value.size() <= 255) {
    PutByte(FStream, vaString);
    PutShort(FStream, Value);
  } else {
    PutByte(FStream, vaLString);
    PutInt(FStream, uint32_t(Value.size()), 4);
    FStream->WriteBuffer(Value.data(), int32_t(Value.size()));
  }
}

// ---- TKitReader -------------------------------------------------------------

void TKitReader::DefineProperty(const std::string& Name, const TKitReaderProc& ReadData,
                                const TKitWriterProc&, bool) {
  if (FPropDone || !fw::SameText(Name, FPropName) || !ReadData) return;
  FPropDone = true;
  ReadData(this);
}

void TKitReader::DefineBinaryProperty(const std::string& Name, const TKitStreamProc& ReadData,
                                      const TKitStreamProc&, bool) {
  if (FPropDone || !fw::SameText(Name, FPropName) || !ReadData) return;
  FPropDone = true;
  if (ReadValueType() != vaBinary) InvalidValue();
  uint32_t n = GetInt(FStream, 4);
  if (int64_t(n) > Remaining(FStream)) InvalidValue();
  fw::TMemoryStream data;
  data.SetSize(n);
  if (n) FStream->ReadBuffer(data.Memory(), int32_t(n));
  data.SetPosition(0);
  ReadData(&data);
}

std::string TKitReader::ReadName() {
  uint8_t n = uint8_t(GetInt(FStream, 1));
  std::string s(n, '\0');
  if (n) FStream->ReadBuffer(s.data(), n);
  return s;
}

uint8_t TKitReader::ReadValueType() { return uint8_t(GetInt(FStream, 1)); }

void TKitReader::ReadListBegin() {
  if (ReadValueType() != vaList) InvalidValue();
}

bool TKitReader::EndOfList() {
  uint8_t b = 0;
  int64_t pos = FStream->Position();
  FStream->ReadBuffer(&b, 1);
  FStream->SetPosition(pos);
  return b == vaNull;
}

void TKitReader::ReadListEnd() {
  if (ReadValueType() != vaNull) InvalidValue();
}

int32_t TKitReader::ReadInteger() {
  switch (ReadValueType()) {
    case vaInt8: return int8_t(GetInt(FStream, 1));
    case vaInt16: return int16_t(GetInt(FStream, 2));
    case vaInt32: return int32_t(GetInt(FStream, 4));
    default: InvalidValue();
  }
}

std::string TKitReader::ReadString() {
  uint32_t n = 0;
  switch (ReadValueType()) {
    case vaString: n = GetInt(FStream, 1); break;
    case vaLString: n = GetInt(FStream, 4); break;
    default: InvalidValue();
  }
  if (int64_t(n) > Remaining(FStream)) InvalidValue();
  std::string s(n, '\0');
  if (n) FStream->ReadBuffer(s.data(), int32_t(n));
  return s;
}

void TKitReader::UnknownProperty(const std::string& Name) {
  throw fw::EReadError("Error reading " + Name + ": Property does not exist");
}

void TKitReader::InvalidValue() { throw fw::EReadError("Invalid property value"); }

}  // namespace vexa
