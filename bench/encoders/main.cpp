// bench-encoders [MiB]: encodes and decodes the same data with our codecs and with the
// independent peers in one run and prints MB/s and the ratio ours/theirs:
//   base64           ours vs OpenSSL EVP_EncodeUpdate / EVP_DecodeUpdate
//   quoted-printable ours vs GMime g_mime_encoding_quoted_printable_*
//   whole process    mime-encode --method base64 vs coreutils base64 (file to /dev/null)
#include <gmime/gmime.h>
#include <openssl/evp.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "mail/clEncoder.h"

namespace {

using Clock = std::chrono::steady_clock;

// Seconds: the best of three runs, so that a busy machine disturbs both sides alike.
double Seconds(const std::function<void()>& fn) {
  double best = 1e30;
  for (int run = 0; run < 3; ++run) {
    const auto start = Clock::now();
    fn();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

void Report(const char* what, std::size_t bytes, double ours, double theirs, const char* peer) {
  const double mbOurs = static_cast<double>(bytes) / 1e6 / ours;
  const double mbTheirs = static_cast<double>(bytes) / 1e6 / theirs;
  std::printf("%-26s ours %8.0f MB/s   %-8s %8.0f MB/s   ratio %.2fx\n", what, mbOurs, peer,
              mbTheirs, mbTheirs > 0 ? mbOurs / mbTheirs : 0.0);
}

std::string RandomBinary(std::size_t n) {
  std::mt19937_64 rng(1);
  std::string s(n, '\0');
  for (std::size_t i = 0; i + 8 <= n; i += 8) {
    const std::uint64_t v = rng();
    std::memcpy(&s[i], &v, 8);
  }
  return s;
}

// Mail-like text: words, CR LF line ends, and about one non-ASCII byte in twenty.
std::string RandomText(std::size_t n) {
  std::mt19937 rng(2);
  std::uniform_int_distribution<int> letter(0, 25), len(1, 10), accent(0, 19);
  std::string s;
  s.reserve(n + 16);
  std::size_t line = 0;
  while (s.size() < n) {
    for (int i = len(rng); i > 0; --i) {
      s += accent(rng) == 0 ? static_cast<char>(0xE1 + letter(rng) % 8)
                            : static_cast<char>('a' + letter(rng));
    }
    line += 8;
    if (line > 64) {
      s += "\r\n";
      line = 0;
    } else {
      s += ' ';
    }
  }
  s.resize(n);
  return s;
}

// Ours through the encoder's stream interface; the source stream is set up beforehand, as
// the peers get a pointer to data that is already in memory.
std::string OurEncode(TclEncodeMethod m, TMemoryStream& in) {
  in.SetPosition(0);
  TMemoryStream out;
  TclEncoder(m).Encode(in, out);
  return out.TakeData();
}

std::string OurDecode(TclEncodeMethod m, TMemoryStream& in) {
  in.SetPosition(0);
  TMemoryStream out;
  TclEncoder(m).Decode(in, out);
  return out.TakeData();
}

std::string OpenSslEncode(const std::string& data) {
  EVP_ENCODE_CTX* ctx = EVP_ENCODE_CTX_new();
  std::string out(data.size() / 48 * 65 + 1024, '\0');
  int total = 0, n = 0;
  EVP_EncodeInit(ctx);
  const std::size_t step = 1 << 20;
  for (std::size_t i = 0; i < data.size(); i += step) {
    const int len = static_cast<int>(std::min(step, data.size() - i));
    EVP_EncodeUpdate(ctx, reinterpret_cast<unsigned char*>(&out[static_cast<std::size_t>(total)]),
                     &n, reinterpret_cast<const unsigned char*>(data.data() + i), len);
    total += n;
  }
  EVP_EncodeFinal(ctx, reinterpret_cast<unsigned char*>(&out[static_cast<std::size_t>(total)]), &n);
  total += n;
  EVP_ENCODE_CTX_free(ctx);
  out.resize(static_cast<std::size_t>(total));
  return out;
}

std::string OpenSslDecode(const std::string& data) {
  EVP_ENCODE_CTX* ctx = EVP_ENCODE_CTX_new();
  std::string out(data.size() / 4 * 3 + 1024, '\0');
  int total = 0, n = 0;
  EVP_DecodeInit(ctx);
  const std::size_t step = 1 << 20;
  for (std::size_t i = 0; i < data.size(); i += step) {
    const int len = static_cast<int>(std::min(step, data.size() - i));
    if (EVP_DecodeUpdate(ctx,
                         reinterpret_cast<unsigned char*>(&out[static_cast<std::size_t>(total)]),
                         &n, reinterpret_cast<const unsigned char*>(data.data() + i), len) < 0) {
      std::fprintf(stderr, "OpenSSL could not decode the data\n");
      std::exit(1);
    }
    total += n;
  }
  EVP_DecodeFinal(ctx, reinterpret_cast<unsigned char*>(&out[static_cast<std::size_t>(total)]), &n);
  total += n;
  EVP_ENCODE_CTX_free(ctx);
  out.resize(static_cast<std::size_t>(total));
  return out;
}

std::string GMimeQpEncode(const std::string& data) {
  std::string out(GMIME_QP_ENCODE_LEN(data.size()), '\0');
  int state = -1;
  guint32 save = 0;
  const std::size_t n = g_mime_encoding_quoted_encode_close(
      reinterpret_cast<const unsigned char*>(data.data()), data.size(),
      reinterpret_cast<unsigned char*>(out.data()), &state, &save);
  out.resize(n);
  return out;
}

std::string GMimeQpDecode(const std::string& data) {
  std::string out(data.size() + 16, '\0');
  int state = 0;
  guint32 save = 0;
  const std::size_t n = g_mime_encoding_quoted_decode_step(
      reinterpret_cast<const unsigned char*>(data.data()), data.size(),
      reinterpret_cast<unsigned char*>(out.data()), &state, &save);
  out.resize(n);
  return out;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const std::size_t size = mib << 20;
  g_mime_init();
  std::printf("input %zu MiB, best of three runs each\n", mib);

  const std::string binary = RandomBinary(size);
  std::string ours, theirs;
  TMemoryStream source(binary);
  double tOurs = Seconds([&] { ours = OurEncode(TclEncodeMethod::cmBase64, source); });
  double tTheirs = Seconds([&] { theirs = OpenSslEncode(binary); });
  Report("base64 encode", size, tOurs, tTheirs, "OpenSSL");

  std::string back, backTheirs;
  TMemoryStream encoded(ours);
  tOurs = Seconds([&] { back = OurDecode(TclEncodeMethod::cmBase64, encoded); });
  tTheirs = Seconds([&] { backTheirs = OpenSslDecode(ours); });
  Check(back == binary && backTheirs == binary, "base64 round trip");
  Report("base64 decode", ours.size(), tOurs, tTheirs, "OpenSSL");

  const std::string text = RandomText(size);
  TMemoryStream textSource(text);
  tOurs = Seconds([&] { ours = OurEncode(TclEncodeMethod::cmQuotedPrintable, textSource); });
  tTheirs = Seconds([&] { theirs = GMimeQpEncode(text); });
  Report("quoted-printable encode", size, tOurs, tTheirs, "GMime");

  TMemoryStream qpSource(ours);
  tOurs = Seconds([&] { back = OurDecode(TclEncodeMethod::cmQuotedPrintable, qpSource); });
  tTheirs = Seconds([&] { backTheirs = GMimeQpDecode(ours); });
  Check(back == text, "quoted-printable round trip");
  Report("quoted-printable decode", ours.size(), tOurs, tTheirs, "GMime");

  // Whole processes: mime-encode streams a file just as coreutils base64 does.
  const std::filesystem::path self = std::filesystem::absolute(argv[0]).parent_path();
  const std::filesystem::path tool = self / "mime-encode";
  if (std::filesystem::exists(tool) && std::system("command -v base64 >/dev/null") == 0) {
    const std::string file = "/tmp/kadenza-bench-" + std::to_string(::getpid());
    std::ofstream(file, std::ios::binary)
        .write(binary.data(), static_cast<std::streamsize>(binary.size()));
    const std::string ourCmd = tool.string() + " --method base64 < " + file + " > /dev/null";
    const std::string theirCmd = "base64 < " + file + " > /dev/null";
    int rc = 0;
    tOurs = Seconds([&] { rc |= std::system(ourCmd.c_str()); });
    tTheirs = Seconds([&] { rc |= std::system(theirCmd.c_str()); });
    std::filesystem::remove(file);
    Check(rc == 0, "process run");
    Report("process base64 (file)", size, tOurs, tTheirs, "base64");
  }
  return 0;
}
