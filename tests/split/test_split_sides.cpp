// The splitter on sides made like real records and tapes: every song in
// exactly one track, each track a little before and after its song, and
// with a count of tracks asked for, always that many.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "split/split.h"
#include "tests/sound/sound_test_util.h"
#include "tests/split/side_maker.h"

namespace {

using side_maker::side_plan;
using side_maker::song_plan;

struct side_case {
    const char* name;
    side_plan plan;
};

std::vector<song_plan> songs(std::vector<double> seconds)
{
    std::vector<song_plan> list;
    for (double s : seconds) {
        song_plan song;
        song.seconds = s;
        list.push_back(song);
    }
    return list;
}

std::vector<side_case> record_sides()
{
    std::vector<side_case> cases;
    side_plan clean;
    clean.songs = songs({34, 41, 27, 38});
    clean.gaps = {3.5};
    cases.push_back({"clean", clean});

    side_plan stereo = clean;
    stereo.rate = 11025;
    stereo.channels = 2;
    stereo.songs = songs({30, 26, 33});
    cases.push_back({"clean stereo at 11025 Hz", stereo});

    side_plan crackle = clean;
    crackle.clicks_per_second = 25;
    crackle.hiss = 40;
    crackle.seed = 2;
    cases.push_back({"crackle", crackle});

    side_plan hum = clean;
    hum.hum = 180;
    hum.seed = 3;
    cases.push_back({"hum", hum});

    // A worn record: loud hiss that grows towards the label, and rumble.
    side_plan worn = clean;
    worn.hiss = 120;
    worn.hiss_end = 400;
    worn.rumble = 500;
    worn.clicks_per_second = 8;
    worn.seed = 4;
    cases.push_back({"rumble with loud hiss", worn});

    side_plan lp = clean;
    lp.songs = songs({31, 36, 29, 40, 33});
    lp.gaps = {2.0, 2.6, 3.0, 2.2};
    lp.seed = 5;
    cases.push_back({"LP gaps of 2 to 3 s", lp});

    side_plan fades = clean;
    fades.songs[0].fade_out = 6;
    fades.songs[1].fade_in = 2;
    fades.songs[1].fade_out = 9;
    fades.songs[2].fade_out = 4;
    fades.gaps = {2.5};
    fades.seed = 6;
    cases.push_back({"fade-outs and a soft attack", fades});

    side_plan quiet_passage = clean;
    quiet_passage.songs[1].pianissimo_at = 18;
    quiet_passage.songs[2].pianissimo_at = 11;
    quiet_passage.songs[2].pianissimo_gain = 0.015;   // 8 dB above the hiss
    quiet_passage.gaps = {2.0};
    quiet_passage.seed = 7;
    cases.push_back({"a 3 s pianissimo inside a song", quiet_passage});

    // A side put together digitally: nothing at all between the songs.
    side_plan digital = quiet_passage;
    digital.hiss = 0;
    digital.songs[0].fade_out = 5;
    digital.songs[1].seconds = 50;
    digital.songs[1].pianissimo_at = 24;
    cases.push_back({"digital silence between songs", digital});

    side_plan needle = worn;
    needle.lead_in = 5;
    needle.digital_lead = 3;
    cases.push_back({"recording started before the needle dropped", needle});

    side_plan quiet_song = clean;
    quiet_song.songs[2].gain = 0.12;
    quiet_song.seed = 8;
    cases.push_back({"a quiet song", quiet_song});

    side_plan tape;
    tape.songs = songs({28, 33, 25, 31, 36, 27, 30, 24, 35, 29, 32, 26});
    tape.gaps = {4, 3, 5, 2.5};
    tape.hiss = 70;
    tape.lead_in = 1;
    tape.run_out = 20;
    tape.seed = 9;
    cases.push_back({"a 12-song tape side", tape});
    return cases;
}

// Reads the side back from a WAV file, as the batch tool does.
side_levels levels_of(const side_maker::made_side& made, const side_plan& plan, sound_test::scratch_dir& dir)
{
    const std::string path = dir.file("side.wav");
    sound_test::write_file(path, sound_test::wav_bytes(plan.rate, plan.channels, 16, sound_test::samples_le(made.samples)));
    side_levels side;
    std::string why;
    EXPECT_EQ(read_side_levels(path.c_str(), &side, &why, nullptr), SPLIT_OK) << why;
    return side;
}

void expect_each_song_in_its_own_track(const std::vector<split_track>& tracks, const side_maker::made_side& made,
                                       uint32_t rate, const std::string& what)
{
    ASSERT_EQ(tracks.size(), made.songs.size()) << what;
    for (size_t k = 0; k < tracks.size(); ++k) {
        const split_track& t = tracks[k];
        const side_maker::song_place& s = made.songs[k];
        const double before = (double(s.first) - double(t.first)) / rate;
        const double after = (double(t.end) - double(s.end)) / rate;
        EXPECT_GE(before, 0) << what << ": track " << k << " starts inside its song";
        EXPECT_LE(before, 0.6) << what << ": track " << k;
        EXPECT_GE(after, 0) << what << ": track " << k << " ends inside its song";
        EXPECT_LE(after, 1.5) << what << ": track " << k;
        if (k > 0) {
            EXPECT_LE(tracks[k - 1].end, t.first) << what << ": tracks " << k - 1 << " and " << k << " overlap";
        }
    }
}

} // namespace

TEST(SplitSides, EverySongInExactlyOneTrackWithItsEdgesKept)
{
    sound_test::scratch_dir dir;
    for (const side_case& c : record_sides()) {
        const side_maker::made_side made = side_maker::make_side(c.plan);
        const side_levels side = levels_of(made, c.plan, dir);
        const int songs = int(made.songs.size());
        std::vector<split_track> tracks;
        std::string why;
        ASSERT_EQ(find_tracks(side, split_settings{}, &tracks, nullptr, &why), SPLIT_OK) << c.name << ": " << why;
        expect_each_song_in_its_own_track(tracks, made, c.plan.rate, c.name);

        // Told the count, the tracks are the same songs; never more or fewer.
        split_settings counted;
        counted.tracks = songs;
        counted.min_gap = 0.5;
        ASSERT_EQ(find_tracks(side, counted, &tracks, nullptr, &why), SPLIT_OK) << c.name << ": " << why;
        expect_each_song_in_its_own_track(tracks, made, c.plan.rate, std::string(c.name) + ", counted");
        for (int n : {1, songs - 1}) {
            counted.tracks = n;
            ASSERT_EQ(find_tracks(side, counted, &tracks, nullptr, &why), SPLIT_OK) << c.name << " in " << n << ": " << why;
            EXPECT_EQ(int(tracks.size()), n) << c.name;
            EXPECT_LE(tracks.front().first, made.songs.front().first) << c.name;
            EXPECT_GE(tracks.back().end, made.songs.back().end) << c.name;
        }
        counted.tracks = songs + 1;
        EXPECT_EQ(find_tracks(side, counted, &tracks, nullptr, &why), SPLIT_TOO_FEW) << c.name;
        EXPECT_NE(why.find("at most " + std::to_string(songs) + " tracks"), std::string::npos) << c.name << ": " << why;
    }
}
