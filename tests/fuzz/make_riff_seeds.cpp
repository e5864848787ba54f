// Writes the seed files of the RIFF reader's fuzz corpus into a directory:
// capture-style tracks, files with LIST and odd chunks, and broken ones.
#include <cstdio>
#include <string>
#include "tests/support/riff_bytes.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    int written = 0;
    auto seed = [&](const char* name, const bytes& b) {
        write_whole_file(dir + "/" + name, b);
        ++written;
    };
    bytes fmt = riff_builder::pcm_format(2, 44100, 16);
    seed("track.wav", pcm_track(pattern_bytes(300)));
    seed("mono_odd.wav", pcm_track(pattern_bytes(301), 1));
    {
        riff_builder b;
        b.chunk("fmt ", fmt).id("LIST").u32(22).id("INFO").chunk("ICMT", {'h', 'e', 'l', 'l', 'o'}).fill(1, 0);
        b.chunk("data", pattern_bytes(64));
        seed("list_before_data.wav", b.wave());
    }
    {
        riff_builder b;
        bytes ext = fmt;
        ext.insert(ext.end(), {2, 0, 0xF4, 0x01});
        b.chunk("fmt ", ext).chunk("fact", {1, 2, 3, 4}).chunk("odd ", {7}).chunk("data", pattern_bytes(33));
        seed("extra_bytes_odd.wav", b.wave());
    }
    {
        riff_builder b;
        b.id("RIFF").u32(0x07F00000).id("WAVE").chunk("fmt ", fmt).id("data").u32(0x07E00000).raw(pattern_bytes(80));
        seed("unpatched.wav", b.out);
    }
    {
        riff_builder b;
        b.chunk("fmt ", fmt).id("data").u32(0xFFFFFFFF).raw(pattern_bytes(20));
        seed("huge_data.wav", b.wave());
    }
    {
        riff_builder b;
        b.id("RIFF").u32(4).id("WAVE");
        seed("empty_form.wav", b.out);
    }
    std::printf("%d seed files in %s\n", written, dir.c_str());
    return 0;
}
