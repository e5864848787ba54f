// trackmill-batch formats: every format the recording's chooser offers, one
// a line: the tag's name, the description and the command-line spelling.
#include <cstdio>
#include "platform/acm/acm.h"
#include "platform/window/window.h"
#include "tools/batch/batch.h"

namespace {
int list_formats(int argc, char** argv)
{
    if (argc != 1) {
        std::fprintf(stderr, "trackmill-batch formats: takes no arguments\n");
        return BATCH_USAGE;
    }
    const format_choice* list = nullptr;
    int count = acm_format_choices(&list);
    if (count <= 0) {
        std::fprintf(stderr, "trackmill-batch formats: the format list could not be built (out of memory)\n");
        return BATCH_FAILED;
    }
    for (int i = 0; i < count; ++i) {
        const auto* f = reinterpret_cast<const wave_format*>(list[i].format);
        std::printf("%s\t%s\t%s\t%u bytes/s\n", list[i].tag_name, list[i].description, list[i].spelling,
                    unsigned(f->avg_bytes_per_sec));
    }
    return BATCH_DONE;
}
} // namespace

BATCH_COMMAND("formats", "formats", "list every recording format: tag, description, spelling, bytes/s",
              list_formats);
