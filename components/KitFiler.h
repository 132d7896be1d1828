// Extra properties of stored component data. An object lists its extra
// properties in DefineProperties; the writer stores each that has data as its
// name (a short string) and a tagged value, and the reader hands each stored
// value back to the definition of the same name. A zero byte ends the
// properties of one object.
//
// Value tags: 0 end of list, 1 list, 2/3/4 integer of 1/2/4 bytes, 6 short
// string, 10 binary (32-bit length and bytes), 12 long string (32-bit length).
// All integers are little-endian.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/Classes.h"

namespace vexa {

class TKitReader;
class TKitWriter;

enum TKitValueType : uint8_t {
  vaNull = 0, vaList = 1, vaInt8 = 2, vaInt16 = 3, vaInt32 = 4, vaString = 6, vaBinary = 10,
  vaLString = 12
};

using TKitReaderProc = std::function<void(TKitReader* Reader)>;
using TKitWriterProc = std::function<void(TKitWriter* Writer)>;
using TKitStreamProc = std::function<void(fw::TStream* Stream)>;

class TKitFiler {
public:
  virtual ~TKitFiler() = default;
  virtual void DefineProperty(const std::string& Name, const TKitReaderProc& ReadData,
                              const TKitWriterProc& WriteData, bool HasData) = 0;
  virtual void DefineBinaryProperty(const std::string& Name, const TKitStreamProc& ReadData,
                                    const TKitStreamProc& WriteData, bool HasData) = 0;
};

class TKitWriter : public TKitFiler {
public:
  explicit TKitWriter(fw::TStream* Stream) : FStream(Stream) {}

  // The extra properties of Instance that have data, then the end byte.
  template <class T>
  void WriteProperties(T* Instance) {
    Instance->DefineProperties(this);
    WriteListEnd();
  }

  void DefineProperty(const std::string& Name, const TKitReaderProc& ReadData,
                      const TKitWriterProc& WriteData, bool HasData) override;
  void DefineBinaryProperty(const std::string& Name, const TKitStreamProc& ReadData,
                            const TKitStreamProc& WriteData, bool HasData) override;

  void WriteListBegin();
  void WriteListEnd();
  // The shortest of the three integer forms that holds Value.
  void WriteInteger(int32_t Value);
  void WriteString(const std::string& Value);
  fw::TStream* Stream() const { return FStream; }

private:
  fw::TStream* FStream;
};

class TKitReader : public TKitFiler {
public:
  // Parent: the component whose children are being read (null for none).
  explicit TKitReader(fw::TStream* Stream, fw::TComponent* Parent = nullptr)
      : FStream(Stream), FParent(Parent) {}

  // Reads stored properties up to the end byte; each goes to the definition of
  // its name. A name that Instance does not define raises EReadError.
  template <class T>
  void ReadProperties(T* Instance) {
    for (;;) {
      std::string name = ReadName();
      if (name.empty()) return;
      FPropName = name;
      FPropDone = false;
      Instance->DefineProperties(this);
      if (!FPropDone) UnknownProperty(name);
    }
  }

  void DefineProperty(const std::string& Name, const TKitReaderProc& ReadData,
                      const TKitWriterProc& WriteData, bool HasData) override;
  void DefineBinaryProperty(const std::string& Name, const TKitStreamProc& ReadData,
                            const TKitStreamProc& WriteData, bool HasData) override;

  // Damaged values raise EReadError "Invalid property value".
  void ReadListBegin();
  bool EndOfList();
  void ReadListEnd();
  int32_t ReadInteger();
  std::string ReadString();

  fw::TComponent* Parent() const { return FParent; }
  void SetParent(fw::TComponent* Value) { FParent = Value; }
  fw::TStream* Stream() const { return FStream; }

private:
  std::string ReadName();
  uint8_t ReadValueType();
  [[noreturn]] void UnknownProperty(const std::string& Name);
  [[noreturn]] void InvalidValue();
  fw::TStream* FStream;
  fw::TComponent* FParent;
  std::string FPropName;
  bool FPropDone = false;
};

}  // namespace vexa
