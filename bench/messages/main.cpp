// bench-messages [MiB]: builds and writes a message with a text body and three attachments
// of MiB each (10 by default), and reads it back, with our TclMailMessage and with GMime, in
// one run. Every measurement runs in a child process of its own, so its peak memory (the
// child's maximum resident set) belongs to that step alone. Prints the CPU seconds (user and
// system, best of three; on a machine shared with other work they vary far less than wall
// time, which is shown too), peak MiB and the ratios ours/GMime.
//
//   write: build the message from the files and write its source to /dev/null
//   read:  parse the written message file and decode every attachment to /dev/null
#include <gmime/gmime.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

#include "mail/clMailMessage.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Measure {
  double seconds = 0;  // CPU time
  double wall = 0;
  double peakMiB = 0;
};

double CpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs fn in a child process; returns its duration and the child's peak resident memory.
Measure InChild(const std::function<void()>& fn) {
  int fds[2];
  if (pipe(fds) != 0) {
    std::perror("pipe");
    std::exit(1);
  }
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    fn();
    const double times[2] = {std::chrono::duration<double>(Clock::now() - start).count(), 0};
    getrusage(RUSAGE_SELF, &after);
    const double both[2] = {times[0], CpuSeconds(after) - CpuSeconds(before)};
    if (write(fds[1], both, sizeof both) != sizeof both)
      _exit(1);
    _exit(0);
  }
  close(fds[1]);
  Measure m;
  double both[2] = {0, 0};
  if (read(fds[0], both, sizeof both) != sizeof both) {
    std::fprintf(stderr, "a measured step failed\n");
    std::exit(1);
  }
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "a measured step failed\n");
    std::exit(1);
  }
  m.wall = both[0];
  m.seconds = both[1];
  m.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return m;
}

// The best time of three runs, and the largest peak.
Measure Best(const std::function<void()>& fn) {
  Measure best{1e30, 1e30, 0};
  for (int run = 0; run < 3; ++run) {
    const Measure m = InChild(fn);
    best.seconds = std::min(best.seconds, m.seconds);
    best.wall = std::min(best.wall, m.wall);
    best.peakMiB = std::max(best.peakMiB, m.peakMiB);
  }
  return best;
}

void WriteFile(const std::string& path, std::size_t size, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::string data(size, '\0');
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    const std::uint64_t v = rng();
    std::memcpy(&data[i], &v, 8);
  }
  std::ofstream(path, std::ios::binary) << data;
}

const char* const kText =
    "Dobrý den,\r\n\r\nv příloze posílám tři soubory.\r\n\r\nS pozdravem\r\nJan Novák\r\n";

// ---------------------------------------------------------------------------------------
// Ours

void OursWrite(const std::vector<std::string>& files) {
  TclMailMessage message;
  message.SetCharSet("UTF-8");
  message.BuildMessage(kText, files);
  message.SetSubject("Tři přílohy");
  message.SetFrom("Jan Novák <jan@example.cz>");
  message.ToList().Add("petr@example.cz");
  TFileStream out("/dev/null", TFileStream::Mode::ReadWrite);
  WriteSourceLines(message.MessageSource(), out);
}

void OursRead(const std::string& path, std::size_t wantAttachments) {
  TFileStream in(path, TFileStream::Mode::Read);
  TclMailMessage message;
  auto sink = std::make_shared<TFileStream>("/dev/null", TFileStream::Mode::ReadWrite);
  message.OnSaveAttachment = [&](TclMailMessage*, TclAttachmentBody*, const std::string&,
                                 std::shared_ptr<TStream>& data, bool& handled) {
    data = sink;
    handled = true;
  };
  message.SetMessageSource(ReadSourceLines(in));
  if (message.Attachments().size() != wantAttachments || message.Subject().empty())
    std::exit(1);
}

// ---------------------------------------------------------------------------------------
// GMime

void GMimeWrite(const std::vector<std::string>& files) {
  g_mime_init();
  GMimeMessage* message = g_mime_message_new(TRUE);
  g_mime_message_add_mailbox(message, GMIME_ADDRESS_TYPE_FROM, "Jan Novák", "jan@example.cz");
  g_mime_message_add_mailbox(message, GMIME_ADDRESS_TYPE_TO, nullptr, "petr@example.cz");
  g_mime_message_set_subject(message, "Tři přílohy", "utf-8");
  GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
  GMimeTextPart* text = g_mime_text_part_new_with_subtype("plain");
  g_mime_text_part_set_text(text, kText);
  g_mime_multipart_add(mixed, GMIME_OBJECT(text));
  g_object_unref(text);
  for (const std::string& file : files) {
    GMimePart* part = g_mime_part_new_with_type("application", "octet-stream");
    g_mime_part_set_filename(part, std::filesystem::path(file).filename().c_str());
    GMimeStream* stream = g_mime_stream_fs_open(file.c_str(), O_RDONLY, 0, nullptr);
    GMimeDataWrapper* content =
        g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
    g_object_unref(stream);
    g_mime_part_set_content(part, content);
    g_object_unref(content);
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    g_mime_multipart_add(mixed, GMIME_OBJECT(part));
    g_object_unref(part);
  }
  g_mime_message_set_mime_part(message, GMIME_OBJECT(mixed));
  g_object_unref(mixed);
  GMimeStream* out = g_mime_stream_fs_open("/dev/null", O_WRONLY, 0, nullptr);
  if (g_mime_object_write_to_stream(GMIME_OBJECT(message), nullptr, out) < 0)
    std::exit(1);
  g_object_unref(out);
  g_object_unref(message);
}

void DecodePart(GMimeObject*, GMimeObject* part, gpointer data) {
  if (!GMIME_IS_PART(part) || GMIME_IS_TEXT_PART(part))
    return;
  GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
  GMimeStream* sink = g_mime_stream_fs_open("/dev/null", O_WRONLY, 0, nullptr);
  g_mime_data_wrapper_write_to_stream(content, sink);
  g_object_unref(sink);
  ++*static_cast<std::size_t*>(data);
}

void GMimeRead(const std::string& path, std::size_t wantAttachments) {
  g_mime_init();
  GMimeStream* in = g_mime_stream_fs_open(path.c_str(), O_RDONLY, 0, nullptr);
  GMimeParser* parser = g_mime_parser_new_with_stream(in);
  g_object_unref(in);
  GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
  g_object_unref(parser);
  if (message == nullptr || g_mime_message_get_subject(message) == nullptr)
    std::exit(1);
  std::size_t attachments = 0;
  g_mime_message_foreach(message, DecodePart, &attachments);
  if (attachments != wantAttachments)
    std::exit(1);
  g_object_unref(message);
}

void Row(const char* what, const Measure& ours, const Measure& gmime) {
  std::printf(
      "%-6s ours %6.3f s cpu (%6.3f wall) %6.1f MiB   GMime %6.3f s cpu (%6.3f wall) %6.1f MiB"
      "   time %.2fx  memory %.2fx\n",
      what, ours.seconds, ours.wall, ours.peakMiB, gmime.seconds, gmime.wall, gmime.peakMiB,
      ours.seconds / gmime.seconds, ours.peakMiB / gmime.peakMiB);
}

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::atol(argv[1]) : 10;
  if (mib < 1) {
    std::fprintf(stderr, "usage: bench-messages [MiB per attachment]\n");
    return 2;
  }
  char tmpl[] = "/tmp/kadenza-bench-XXXXXX";
  const char* dir = mkdtemp(tmpl);
  if (dir == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  std::vector<std::string> files;
  for (int i = 0; i < 3; ++i) {
    files.push_back(std::string(dir) + "/příloha" + std::to_string(i + 1) + ".bin");
    WriteFile(files.back(), static_cast<std::size_t>(mib) << 20, static_cast<unsigned>(i + 1));
  }
  const std::string eml = std::string(dir) + "/message.eml";
  // Written in a child too, so that the parent (and every later child) stays small.
  InChild([&] {
    TclMailMessage message;
    message.SetCharSet("UTF-8");
    message.BuildMessage(kText, files);
    message.SetSubject("Tři přílohy");
    message.SetFrom("Jan Novák <jan@example.cz>");
    message.ToList().Add("petr@example.cz");
    TFileStream out(eml, TFileStream::Mode::Create);
    WriteSourceLines(message.MessageSource(), out);
  });
  const double attachmentMiB = 3.0 * static_cast<double>(mib);
  std::printf("message: text and 3 x %ld MiB attachments (%.1f MiB written)\n", mib,
              static_cast<double>(std::filesystem::file_size(eml)) / (1 << 20));
  const Measure baseline = Best([] {});
  const Measure oursWrite = Best([&] { OursWrite(files); });
  const Measure gmimeWrite = Best([&] { GMimeWrite(files); });
  const Measure oursRead = Best([&] { OursRead(eml, files.size()); });
  const Measure gmimeRead = Best([&] { GMimeRead(eml, files.size()); });
  Row("write", oursWrite, gmimeWrite);
  Row("read", oursRead, gmimeRead);
  std::printf(
      "peak memory beyond the empty child (%.1f MiB), per attachment MiB: write %.2fx, "
      "read %.2fx (aim: at most 4x); time aim: at most 1.5x GMime\n",
      baseline.peakMiB, (oursWrite.peakMiB - baseline.peakMiB) / attachmentMiB,
      (oursRead.peakMiB - baseline.peakMiB) / attachmentMiB);
  std::filesystem::remove_all(dir);
  return 0;
}
