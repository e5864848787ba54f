// trackmill-batch: argument helpers the sub-commands share, so that every
// command tells a typing error and an occupied output file the same way.
#include <sys/stat.h>
#include <cstdio>
#include <cstring>
#include "app/number_boxes.h"
#include "tools/batch/batch.h"

const char* batch_option_value(const char* arg, const char* name)
{
    const size_t n = std::strlen(name);
    return std::strncmp(arg, name, n) == 0 && arg[n] == '=' ? arg + n + 1 : nullptr;
}

int batch_usage(const char* command, const char* why)
{
    std::fprintf(stderr, "trackmill-batch %s: %s\n", command, why);
    if (const batch_command* c = batch_find(command))
        std::fprintf(stderr, "usage: trackmill-batch %s\n", c->usage);
    return BATCH_USAGE;
}

bool batch_number(const char* text, uint64_t* value)
{
    return parse_box_number(text, value) == 1;
}

bool batch_may_write(const char* command, const char* path, bool overwrite)
{
    struct stat st;
    if (overwrite || stat(path, &st) != 0)
        return true;
    std::fprintf(stderr, "trackmill-batch %s: %s exists; --overwrite writes over it\n", command, path);
    return false;
}
