#include "ogg_vorbis_writer.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace song {
namespace {

constexpr int kSerialNumber = 0x53544C43;  // "STLC": a fixed serial keeps the file byte-identical
constexpr float kQuality = 0.3f;           // variable bit rate, about 110 kbit/s for stereo
constexpr int kBlockFrames = 1024;

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

// Owns the encoder's state for one file.
class Encoder {
 public:
  Encoder() {
    vorbis_info_init(&info_);
    vorbis_comment_init(&comment_);
  }
  ~Encoder() {
    if (started_) {
      ogg_stream_clear(&stream_);
      vorbis_block_clear(&block_);
      vorbis_dsp_clear(&dsp_);
    }
    vorbis_comment_clear(&comment_);
    vorbis_info_clear(&info_);
  }
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  void start(FILE* out, const std::string& title) {
    out_ = out;
    if (vorbis_encode_init_vbr(&info_, 2, kSampleRate, kQuality) != 0)
      throw std::runtime_error("the Vorbis encoder refuses its settings");
    vorbis_comment_add_tag(&comment_, "TITLE", title.c_str());
    vorbis_analysis_init(&dsp_, &info_);
    vorbis_block_init(&dsp_, &block_);
    ogg_stream_init(&stream_, kSerialNumber);
    started_ = true;

    ogg_packet header, comment_header, codebooks;
    vorbis_analysis_headerout(&dsp_, &comment_, &header, &comment_header, &codebooks);
    ogg_stream_packetin(&stream_, &header);
    ogg_stream_packetin(&stream_, &comment_header);
    ogg_stream_packetin(&stream_, &codebooks);
    // The audio starts on a fresh page after the headers.
    ogg_page page;
    while (ogg_stream_flush(&stream_, &page) != 0) write(page);
  }

  void encode(const Pcm& pcm) {
    for (size_t at = 0; at < pcm.frames(); at += kBlockFrames) {
      const size_t n = std::min<size_t>(kBlockFrames, pcm.frames() - at);
      float** buffer = vorbis_analysis_buffer(&dsp_, static_cast<int>(n));
      for (size_t i = 0; i < n; ++i) {
        buffer[0][i] = pcm.left[at + i];
        buffer[1][i] = pcm.right[at + i];
      }
      vorbis_analysis_wrote(&dsp_, static_cast<int>(n));
      drain();
    }
    vorbis_analysis_wrote(&dsp_, 0);  // end of stream
    drain();
  }

 private:
  void drain() {
    while (vorbis_analysis_blockout(&dsp_, &block_) == 1) {
      vorbis_analysis(&block_, nullptr);
      vorbis_bitrate_addblock(&block_);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp_, &packet) == 1) {
        ogg_stream_packetin(&stream_, &packet);
        ogg_page page;
        while (ogg_stream_pageout(&stream_, &page) != 0) {
          write(page);
          if (ogg_page_eos(&page)) return;
        }
      }
    }
  }

  void write(const ogg_page& page) {
    if (std::fwrite(page.header, 1, static_cast<size_t>(page.header_len), out_) != static_cast<size_t>(page.header_len) ||
        std::fwrite(page.body, 1, static_cast<size_t>(page.body_len), out_) != static_cast<size_t>(page.body_len))
      throw std::runtime_error("cannot write the music file");
  }

  FILE* out_ = nullptr;
  bool started_ = false;
  vorbis_info info_;
  vorbis_comment comment_;
  vorbis_dsp_state dsp_;
  vorbis_block block_;
  ogg_stream_state stream_;
};

}  // namespace

void WriteOggVorbis(const Pcm& pcm, const std::string& path, const std::string& title) {
  std::unique_ptr<FILE, FileCloser> out(std::fopen(path.c_str(), "wb"));
  if (!out) throw std::runtime_error("cannot create " + path);
  {
    Encoder encoder;
    encoder.start(out.get(), title);
    encoder.encode(pcm);
  }
  FILE* f = out.release();
  if (std::fclose(f) != 0) throw std::runtime_error("cannot write " + path);
}

}  // namespace song
