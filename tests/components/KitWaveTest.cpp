// labels: unit
// Wave sounds: the wave check, the stored forms, files, assignment, stopping
// a sound that plays from memory, and the wave list's items.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "components/kitprocs.h"
#include "components/kitwave.h"
#include "platform/kernel/Sound.h"

using namespace vexa;
using Bytes = std::vector<uint8_t>;

namespace {

// The four letters of a chunk tag, without the terminating zero.
void Put(Bytes& b, const char (&s)[5]) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(s[i]));
}
void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void Put16(Bytes& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}

// A small wave file with the given format tag and samples.
Bytes WaveFile(uint16_t tag, size_t samples) {
  Bytes b;
  Put(b, "RIFF");
  Put32(b, uint32_t(36 + samples));
  Put(b, "WAVE");
  Put(b, "fmt ");
  Put32(b, 16);
  Put16(b, tag);
  Put16(b, 1);
  Put32(b, 8000);
  Put32(b, 8000);
  Put16(b, 1);
  Put16(b, 8);
  Put(b, "data");
  Put32(b, uint32_t(samples));
  for (size_t i = 0; i < samples; ++i) b.push_back(uint8_t(128 + (i % 7) * 3));
  return b;
}

fw::TMemoryStream* StreamOf(fw::TMemoryStream& m, const Bytes& b) {
  m.Clear();
  if (!b.empty()) m.WriteBuffer(b.data(), int32_t(b.size()));
  m.SetPosition(0);
  return &m;
}

Bytes DataOf(TKitWave& w) { return w.IsEmpty() ? Bytes{} : w.Data()->Data(); }

}  // namespace

TEST(KitWave, CheckAcceptsWaveHeadersAndRefusesOthers) {
  TKitWave w;
  fw::TMemoryStream m;
  int changes = 0;
  w.OnChange = [&](fw::TObject*) { ++changes; };
  Bytes pcm = WaveFile(1, 40);
  EXPECT_TRUE(w.LoadFromStream(StreamOf(m, pcm)));
  EXPECT_EQ(DataOf(w), pcm);
  EXPECT_EQ(w.GetSize(), int64_t(pcm.size()));
  EXPECT_EQ(w.Data()->Position(), 0);
  EXPECT_EQ(changes, 1);

  Bytes adpcm = WaveFile(2, 10);  // any format tag passes
  EXPECT_TRUE(w.LoadFromStream(StreamOf(m, adpcm)));
  EXPECT_EQ(DataOf(w), adpcm);

  // Bytes that are no wave are not taken; the wave keeps what it had.
  Bytes riffx = pcm;
  riffx[3] = 'X';
  EXPECT_FALSE(w.LoadFromStream(StreamOf(m, riffx)));
  EXPECT_EQ(w.LastError(), "EInvalidWave: Cannot open file %s");
  Bytes avi = pcm;
  std::copy_n("AVI ", 4, avi.begin() + 8);
  EXPECT_FALSE(w.LoadFromStream(StreamOf(m, avi)));
  EXPECT_EQ(DataOf(w), adpcm);
  EXPECT_EQ(changes, 2);

  // A header cut short: the check itself fails.
  Bytes cut(pcm.begin(), pcm.begin() + 16);
  try {
    w.LoadFromStream(StreamOf(m, cut));
    FAIL() << "short header accepted";
  } catch (const EErrorCheckingWave& e) {
    EXPECT_EQ(e.Message(), "GetWaveData: Cannot open file %s");
    EXPECT_STREQ(e.ClassName(), "EErrorCheckingWave");
  }
  EXPECT_EQ(DataOf(w), adpcm);
  Bytes headerOnly(pcm.begin(), pcm.begin() + 34);
  EXPECT_TRUE(w.LoadFromStream(StreamOf(m, headerOnly)));

  // An empty source clears the wave.
  EXPECT_TRUE(w.LoadFromStream(StreamOf(m, {})));
  EXPECT_TRUE(w.IsEmpty());
  EXPECT_EQ(w.GetSize(), 0);
}

TEST(KitWave, StoredFormsRoundTrip) {
  Bytes file = WaveFile(1, 300);
  TKitWave w;
  fw::TMemoryStream m;
  ASSERT_TRUE(w.LoadFromStream(StreamOf(m, file)));

  fw::TMemoryStream plain;
  w.WriteData(&plain);
  Bytes want;
  Put32(want, uint32_t(file.size()));
  want.insert(want.end(), file.begin(), file.end());
  EXPECT_EQ(plain.Data(), want);

  fw::TMemoryStream bare;
  w.SaveToStream(&bare);
  EXPECT_EQ(bare.Data(), file);

  fw::TMemoryStream packed;
  WriteWaveSection(&packed, &w, true);
  fw::TMemoryStream payload;
  packed.SetPosition(0);
  ReadCompressedSection(&packed, &payload);
  EXPECT_EQ(payload.Data(), file);

  for (bool compressed : {false, true}) {
    fw::TMemoryStream s;
    WriteWaveSection(&s, &w, compressed);
    s.WriteBuffer("tail", 4);
    s.SetPosition(0);
    TKitWave back;
    ReadWaveSection(&s, &back, compressed);
    EXPECT_EQ(DataOf(back), file);
    EXPECT_EQ(s.Position(), s.Size() - 4);
  }

  // An empty wave writes length 0 and reads back empty.
  TKitWave empty, target;
  fw::TMemoryStream e;
  empty.WriteData(&e);
  EXPECT_EQ(e.Data(), (Bytes{0, 0, 0, 0}));
  target.LoadFromStream(StreamOf(m, file));
  e.WriteBuffer("more", 4);
  e.SetPosition(0);
  target.ReadData(&e);
  EXPECT_TRUE(target.IsEmpty());

  // A stored length beyond the data is refused before reading.
  fw::TMemoryStream bad;
  Put32(want, 0);
  want[0] = 0xFF;
  want[1] = 0xFF;
  StreamOf(bad, want);
  EXPECT_THROW(target.ReadData(&bad), fw::EReadError);
}

TEST(KitWave, FilesAssignAndFormData) {
  char dir[] = "/tmp/kitwaveXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string name = std::string(dir) + "/beep.wav";
  Bytes file = WaveFile(1, 64);
  TKitWave w;
  fw::TMemoryStream m;
  w.LoadFromStream(StreamOf(m, file));
  w.SaveToFile(name);
  auto loaded = TKitWave::CreateFromFile(name);
  EXPECT_EQ(DataOf(*loaded), file);
  EXPECT_THROW(TKitWave::CreateFromFile(std::string(dir) + "/none.wav"), fw::EFOpenError);
  unlink(name.c_str());
  rmdir(dir);

  TKitWave copy;
  int changes = 0;
  copy.OnChange = [&](fw::TObject*) { ++changes; };
  copy.Assign(&w);
  EXPECT_EQ(DataOf(copy), file);
  EXPECT_NE(copy.Data(), w.Data());
  EXPECT_EQ(changes, 1);
  TKitWave empty;
  copy.Assign(&empty);
  EXPECT_TRUE(copy.IsEmpty());
  copy.Assign(&w);
  copy.Assign(nullptr);
  EXPECT_TRUE(copy.IsEmpty());
  fw::TStringList notAWave;
  EXPECT_THROW(copy.Assign(&notAWave), fw::EConvertError);

  // "Data" is stored while the wave holds data.
  fw::TMemoryStream form;
  TKitWriter(&form).WriteProperties(&empty);
  EXPECT_EQ(form.Data(), (Bytes{0}));
  form.Clear();
  TKitWriter(&form).WriteProperties(&w);
  Bytes want{4, 'D', 'a', 't', 'a', 10};
  Put32(want, uint32_t(file.size() + 4));
  Put32(want, uint32_t(file.size()));
  want.insert(want.end(), file.begin(), file.end());
  want.push_back(0);
  EXPECT_EQ(form.Data(), want);
  form.SetPosition(0);
  TKitWave back;
  TKitReader(&form).ReadProperties(&back);
  EXPECT_EQ(DataOf(back), file);
}

TEST(KitWave, ReplacingOrFreeingDataStopsMemorySound) {
  Bytes file = WaveFile(1, 32);
  fw::TMemoryStream m;
  auto* w = new TKitWave;
  w->LoadFromStream(StreamOf(m, file));
  auto play = [&] {
    ASSERT_TRUE(plat::sndPlaySound(w->Data()->Memory(), plat::SND_MEMORY | plat::SND_ASYNC));
    ASSERT_EQ(plat::PlayingMemorySound(), w->Data()->Memory());
  };
  play();
  w->LoadFromStream(StreamOf(m, file));
  EXPECT_EQ(plat::PlayingMemorySound(), nullptr);
  play();
  TKitWave other;
  other.LoadFromStream(StreamOf(m, WaveFile(1, 5)));
  w->Assign(&other);
  EXPECT_EQ(plat::PlayingMemorySound(), nullptr);
  play();
  w->Clear();
  EXPECT_EQ(plat::PlayingMemorySound(), nullptr);
  w->LoadFromStream(StreamOf(m, file));
  play();
  delete w;
  EXPECT_EQ(plat::PlayingMemorySound(), nullptr);
}

TEST(KitWaveList, ItemsAndListFile) {
  Bytes file = WaveFile(1, 50);
  TKitWaveList list(nullptr);
  EXPECT_EQ(list.Kind(), klkWaveList);
  list.AddItem();
  auto* full = list.Items(list.AddItem());
  fw::TMemoryStream m;
  full->Wave()->LoadFromStream(StreamOf(m, file));
  full->SetIdent(3);
  full->SetCompressed(true);
  EXPECT_EQ(list.Items(0)->GetFlags(), 0);
  EXPECT_EQ(full->GetFlags(), 0x0D);

  fw::TMemoryStream lf;
  WriteListFileSignature(&lf, list.Kind());
  list.SaveToStream(&lf, true);
  Bytes b = lf.Data();
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 9), (Bytes{8, 'K', 'I', 'T', 'W', 'V', 'L', '3', '0'}));
  EXPECT_EQ(b[9 + 4 + 8], 0);           // the empty item: its flag byte only
  EXPECT_EQ(b[9 + 4 + 8 + 1], 0x0D);    // compressed, ident, data
  lf.SetPosition(0);
  ASSERT_EQ(ReadListFileSignature(&lf), klkWaveList);
  TKitWaveList back(nullptr);
  back.LoadFromStream(&lf, true);
  ASSERT_EQ(back.GetCount(), 2);
  EXPECT_TRUE(back.Items(0)->IsEmpty());
  EXPECT_EQ(back.Items(1)->Ident(), 3);
  EXPECT_TRUE(back.Items(1)->Compressed());
  EXPECT_EQ(DataOf(*back.Items(1)->Wave()), file);

  // Item assignment copies the common values and the wave.
  TKitWaveListItem copy(nullptr);
  copy.Assign(full);
  EXPECT_EQ(copy.Ident(), 3);
  EXPECT_TRUE(copy.Compressed());
  EXPECT_EQ(DataOf(*copy.Wave()), file);
  copy.ClearData();
  EXPECT_TRUE(copy.IsEmpty());
  fw::TMemoryStream one;
  copy.WriteData(&one);
  EXPECT_EQ(one.Data(), (Bytes{0x05, 3, 0, 0, 0}));
}
