// The song's pure parts, linked without SDL or GL: step packets, the roll, the
// voices, and how the Opus tracks and the voices are mixed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "song.hpp"

namespace {

using Samples = std::vector<std::int16_t>;

Samples silence() {
    return Samples(SONG_SAMPLE_COUNT, 0);
}

const Samples& whole_song() {
    static const Samples song = [] {
        Samples samples = silence();
        synthesise_song(samples.data());
        return samples;
    }();
    return song;
}

std::int16_t wrapped(int value) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
}

TEST(StepGenerator, SeedZeroStillGivesBytes) {
    unsigned char packet[PACKET_LENGTH + 1];
    std::memset(packet, 0xAA, sizeof packet);
    fill_step_payload(0, packet);
    const unsigned char first[] = {0x21, 0x62, 0xE7, 0xE6};
    const unsigned char last[] = {0x3A, 0x73, 0x04};
    EXPECT_EQ(0, std::memcmp(packet + 2, first, sizeof first));
    EXPECT_EQ(0, std::memcmp(packet + 122, last, sizeof last));
    // Only the payload is written: the header and the spare last byte are left as they were.
    EXPECT_EQ(packet[0], 0xAA);
    EXPECT_EQ(packet[1], 0xAA);
    EXPECT_EQ(packet[125], 0xAA);
}

TEST(StepGenerator, EachSeedIsItsOwnPacket) {
    unsigned char seed_160[PACKET_LENGTH + 1] = {}, seed_161[PACKET_LENGTH + 1] = {};
    fill_step_payload(160, seed_160);
    fill_step_payload(161, seed_161);
    const unsigned char first[] = {0xCB, 0xD8, 0xFB, 0xC4};
    EXPECT_EQ(0, std::memcmp(seed_160 + 2, first, sizeof first));
    EXPECT_NE(0, std::memcmp(seed_160 + 2, seed_161 + 2, PACKET_LENGTH - 2));
}

TEST(Roll, BarsZeroAndOneAreEmptyAndTheFirstNotesOpenBarTwo) {
    ASSERT_EQ(MUSIC_ROLL.size(), 2240u);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(MUSIC_ROLL[i], 0) << "byte " << i;
    EXPECT_EQ(MUSIC_ROLL[64], 160); // track 0, step 32
    EXPECT_EQ(MUSIC_ROLL[65], 225); // track 1, step 32
}

TEST(Roll, CountsAndSeedsOfEachTrack) {
    int empty[ROLL_TRACKS] = {};
    std::set<int> seeds;
    for (int step = 0; step < ROLL_STEPS; ++step)
        for (int track = 0; track < ROLL_TRACKS; ++track) {
            int seed = MUSIC_ROLL[2 * step + track];
            if (seed)
                seeds.insert(seed);
            else
                ++empty[track];
        }
    EXPECT_EQ(empty[0], 909);
    EXPECT_EQ(empty[1], 1028);
    EXPECT_EQ(seeds, (std::set<int>{24, 48, 80, 112, 160, 177, 196, 200, 225, 252}));
}

TEST(Roll, StepsLandWhereTheScorePutsThem) {
    auto seed = [](int bar, int step, int track) { return MUSIC_ROLL[2 * (bar * BAR_STEPS + step) + track]; };
    EXPECT_EQ(seed(29, 14, 0), 196);
    EXPECT_EQ(seed(29, 12, 1), 196);
    EXPECT_EQ(seed(42, 0, 0), 196); // the busy section opens on 196, not 160
    EXPECT_EQ(seed(43, 0, 0), 160);
    EXPECT_EQ(seed(60, 2, 1), 48);
    EXPECT_EQ(seed(61, 0, 0), 200);
    EXPECT_EQ(seed(69, 0, 0), 160);
    EXPECT_EQ(seed(69, 0, 1), 0);
    for (int bar : {39, 41})
        for (int step = 0; step < BAR_STEPS; ++step)
            EXPECT_TRUE(seed(bar, step, 0) == 0 && seed(bar, step, 1) == 0)
                << "bar " << bar << " step " << step;
}

TEST(Voices, ValuesAtKnownSamples) {
    EXPECT_EQ(voice_value(VOICE_A, 437760), 96);
    EXPECT_EQ(voice_value(VOICE_A, 437999), 95); // the phase offset truncates toward zero: -148
    EXPECT_EQ(voice_value(VOICE_A, 500000), 2584);
    EXPECT_EQ(voice_value(VOICE_B, 1906560), -1); // -30 * 6 / 120 truncates toward zero
    EXPECT_EQ(voice_value(VOICE_B, 1935359), -1664);
}

TEST(Voices, AddedValuesFollowTheDefinitionAtEverySample) {
    for (const Voice* voice : {&VOICE_A, &VOICE_B}) {
        Samples added = silence();
        add_voice(*voice, added.data());
        for (int n = voice->first_sample; n <= voice->last_sample; ++n)
            ASSERT_EQ(added[n], voice_value(*voice, n)) << "sample " << n;
    }
}

TEST(Voices, RangesAndLimits) {
    Samples voices = silence();
    add_voice(VOICE_A, voices.data());
    int low = 0, high = 0;
    for (int n = VOICE_A.first_sample; n < SONG_SAMPLE_COUNT; ++n) {
        low = std::min(low, int(voices[n]));
        high = std::max(high, int(voices[n]));
    }
    EXPECT_EQ(low, -10000);
    EXPECT_EQ(high, 9986);
    EXPECT_EQ(voices[VOICE_A.first_sample - 1], 0);
    EXPECT_EQ(voices[SONG_SAMPLE_COUNT - 1], voice_value(VOICE_A, SONG_SAMPLE_COUNT - 1));

    Samples voice_b = silence();
    add_voice(VOICE_B, voice_b.data());
    int b_low = 0, b_high = 0, b_samples = 0;
    for (int n = 0; n < SONG_SAMPLE_COUNT; ++n) {
        b_samples += voice_b[n] != 0;
        b_low = std::min(b_low, int(voice_b[n]));
        b_high = std::max(b_high, int(voice_b[n]));
    }
    EXPECT_GE(b_low, -3125);
    EXPECT_LE(b_high, 3111);
    EXPECT_LT(b_low, -3000);
    EXPECT_GT(b_high, 3000);
    EXPECT_EQ(voice_b[1906559], 0);
    EXPECT_EQ(voice_b[1906560], -1);
    EXPECT_EQ(voice_b[1935359], -1664); // it stops abruptly at the bar line of bar 42
    EXPECT_EQ(voice_b[1935360], 0);
    EXPECT_GT(b_samples, 28000);
}

// The decoder's output for each step, placed by hand: a reference for the mixing.
Samples track_by_hand(int track) {
    Samples samples = silence();
    OpusDecoder* decoder = opus_decoder_create(48000, 1, nullptr);
    unsigned char packet[PACKET_LENGTH] = {0x7B, 0x03};
    opus_int16 decoded[STEP_SAMPLES];
    for (int step = 0; step < ROLL_STEPS; ++step) {
        const unsigned char seed = MUSIC_ROLL[2 * step + track];
        fill_step_payload(seed, packet);
        EXPECT_EQ(opus_decode(decoder, packet, PACKET_LENGTH, decoded, STEP_SAMPLES, seed == 0),
                  STEP_SAMPLES);
        for (int k = 0; k < STEP_SAMPLES; ++k)
            samples[step * STEP_SAMPLES + k] = wrapped(3 * decoded[k]);
    }
    opus_decoder_destroy(decoder);
    return samples;
}

TEST(Tracks, BothTracksLandOnTheSameSamplesOfEachStep) {
    const Samples by_hand[ROLL_TRACKS] = {track_by_hand(0), track_by_hand(1)};
    for (int track = 0; track < ROLL_TRACKS; ++track) {
        Samples alone = silence();
        add_roll_track(track, alone.data());
        ASSERT_EQ(alone, by_hand[track]) << "track " << track;
        // Every step that is not empty sounds.
        for (int step = 0; step < ROLL_STEPS; ++step) {
            if (!MUSIC_ROLL[2 * step + track]) continue;
            bool sounds = false;
            for (int k = 0; k < STEP_SAMPLES; ++k)
                sounds |= alone[step * STEP_SAMPLES + k] != 0;
            EXPECT_TRUE(sounds) << "track " << track << " step " << step;
        }
        for (int n = SONG_BODY_SAMPLES; n < SONG_SAMPLE_COUNT; ++n)
            ASSERT_EQ(alone[n], 0) << "track " << track << " reaches past the roll at " << n;
    }

    // The whole song is the two tracks and the two voices, each added in the same samples.
    Samples voices = silence();
    add_voice(VOICE_A, voices.data());
    add_voice(VOICE_B, voices.data());
    const Samples& song = whole_song();
    for (int n = 0; n < SONG_SAMPLE_COUNT; ++n)
        ASSERT_EQ(song[n], wrapped(by_hand[0][n] + by_hand[1][n] + voices[n])) << "sample " << n;
}

TEST(Mixing, StepsAndVoicesWrapInsteadOfClamping) {
    Samples song = silence();
    std::memset(DECODED_DATA, 0, sizeof DECODED_DATA);
    DECODED_DATA[0] = 12000;  // times 3 is 36000: past the 16-bit range on its own
    DECODED_DATA[1] = -11000; // -33000
    DECODED_DATA[2] = 10000;  // 30000, then the second time 60000
    song[5 * STEP_SAMPLES + 2] = 0;
    mix_step(song.data(), 5);
    EXPECT_EQ(song[5 * STEP_SAMPLES + 0], 36000 - 65536);
    EXPECT_EQ(song[5 * STEP_SAMPLES + 1], -33000 + 65536);
    EXPECT_EQ(song[5 * STEP_SAMPLES + 2], 30000);
    mix_step(song.data(), 5);
    EXPECT_EQ(song[5 * STEP_SAMPLES + 2], 60000 - 65536);
    EXPECT_EQ(song[4 * STEP_SAMPLES + STEP_SAMPLES - 1], 0);
    EXPECT_EQ(song[6 * STEP_SAMPLES], 0);

    // A voice added onto a loud sample wraps too.
    const int n = 500000; // voice A adds 2584 here
    song[n] = 32000;
    Voice one_sample = VOICE_A;
    one_sample.first_sample = one_sample.last_sample = n;
    add_voice(one_sample, song.data());
    EXPECT_EQ(song[n], 32000 + 2584 - 65536);
}

TEST(Song, AfterTheRollOnlyVoiceARemains) {
    const Samples& song = whole_song();
    for (int n = SONG_BODY_SAMPLES; n < SONG_SAMPLE_COUNT; ++n)
        ASSERT_EQ(song[n], voice_value(VOICE_A, n)) << "sample " << n;
    // The roll's last bar still sounds up to its end.
    bool last_bar_sounds = false;
    for (int n = SONG_BODY_SAMPLES - BAR_SAMPLES; n < SONG_BODY_SAMPLES; ++n)
        last_bar_sounds |= song[n] != voice_value(VOICE_A, n);
    EXPECT_TRUE(last_bar_sounds);
}

// The decoder's output differs between libopus releases, so the designed
// song's digest (its committed record, which the browser edition also holds
// its song to) is only made by the release it was made with.
TEST(Song, StreamDigestForTheLibopusItWasMadeWith) {
    const std::string made_with = "libopus 1.3.";
    const std::string linked = opus_get_version_string();
    if (linked.rfind(made_with, 0) != 0)
        GTEST_SKIP() << "the designed song is made by " << made_with << "x only; this test is linked with "
                     << linked << ", whose decoder gives a different song";
    std::string record;
    {
        std::FILE* file = std::fopen(KORVATINE_SONG_STREAM_DIGEST, "r");
        ASSERT_NE(file, nullptr) << KORVATINE_SONG_STREAM_DIGEST;
        char digest[65] = {};
        ASSERT_EQ(std::fscanf(file, "%64s", digest), 1);
        std::fclose(file);
        record = digest;
    }
    // The stream as played: the little-endian samples from byte 1 on.
    const Samples& song = whole_song();
    std::vector<unsigned char> bytes;
    for (std::int16_t sample : song)
        for (int shift : {0, 8})
            bytes.push_back(static_cast<std::uint16_t>(sample) >> shift & 0xFF);
    char path[] = "/tmp/korvatine-stream-XXXXXX";
    const int descriptor = mkstemp(path);
    ASSERT_GE(descriptor, 0);
    std::FILE* out = fdopen(descriptor, "wb");
    std::fwrite(bytes.data() + 1, 1, bytes.size() - 1, out);
    std::fclose(out);
    std::FILE* sum = popen(("sha256sum " + std::string(path)).c_str(), "r");
    char digest[65] = {};
    ASSERT_EQ(std::fscanf(sum, "%64s", digest), 1);
    pclose(sum);
    std::remove(path);
    EXPECT_EQ(std::string(digest), record);
}

} // namespace
