// Tags, covers and chapters: what the listing reads from each kind of input, and what an MP3
// output carries, read back by TagLib and by ffprobe, with the CUE sheet beside it.
#include "CliFormatsSupport.h"

#include <gtest/gtest.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/chapterframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tableofcontentsframe.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <sys/inotify.h>
#include <unistd.h>

using namespace testutil;
using namespace clitest;
using namespace fmttest;

namespace {

const std::string kTitle = "Título ü";
const std::string kArtist = "Ёжик в тумане";
const std::string kAlbum = "日本語のタイトル";

// A 16 x 16 picture, its kind by the name's extension (png, jpg).
std::string Picture(const TempDir &dir, const std::string &name) {
    return Ffmpeg(dir, name, "-f lavfi -i color=c=red:s=16x16 -frames:v 1");
}

// ffmpeg's arguments attaching picture as the cover of the file it writes.
std::string Cover(const std::string &picture) {
    return " -i " + Quote(picture) + " -map 0:a -map 1 -c:v copy -disposition:v attached_pic";
}

// An MP3 of frames sample frames of a 44100 Hz stereo tone, made by lame with lameArgs.
std::string LameMp3(const TempDir &dir, const std::string &name, int frames,
                    const std::string &lameArgs) {
    const std::string path = dir.File(name);
    const auto r = Run("sox -V1 -n -r 44100 -c 2 -b 16 -t wav - synth " + std::to_string(frames) +
                       "s sine 440 | lame --quiet " + lameArgs + " - " + Quote(path));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return path;
}

// ffmpeg's -metadata arguments for these tags.
std::string Metadata(const std::map<std::string, std::string> &tags) {
    std::string args;
    for (const auto &[name, value] : tags)
        args += " -metadata " + Quote(name + "=" + value);
    return args;
}

// What TagLib finds in an MP3 file's ID3v2 tag.
struct Id3 {
    bool present = false;
    std::vector<std::string> ids;            // every top-level frame's, in order
    std::map<std::string, std::string> text; // the first text of each text frame
    std::string picture, pictureMime;
    std::vector<std::string> chapterIds, chapterTitles;
    std::vector<std::uint32_t> chapterStartMs;
    struct Toc {
        bool topLevel = false, ordered = false;
        std::vector<std::string> children;
    };
    std::map<std::string, Toc> tocs; // by element id
};

Id3 ReadId3(const std::string &path) {
    using namespace TagLib::ID3v2;
    Id3 out;
    TagLib::MPEG::File file(path.c_str(), false);
    out.present = file.isValid() && file.hasID3v2Tag();
    if (!out.present)
        return out;
    for (Frame *frame : file.ID3v2Tag()->frameList()) {
        const std::string id(frame->frameID().data(), frame->frameID().size());
        out.ids.push_back(id);
        if (id[0] == 'T' && !out.text.count(id))
            out.text[id] = frame->toString().to8Bit(true);
        if (const auto *p = dynamic_cast<AttachedPictureFrame *>(frame)) {
            out.picture.assign(p->picture().data(), p->picture().size());
            out.pictureMime = p->mimeType().to8Bit();
        } else if (const auto *c = dynamic_cast<ChapterFrame *>(frame)) {
            out.chapterIds.emplace_back(c->elementID().data(), c->elementID().size());
            out.chapterStartMs.push_back(c->startTime());
            const FrameList titles = c->embeddedFrameList("TIT2");
            out.chapterTitles.push_back(titles.isEmpty() ? ""
                                                         : titles.front()->toString().to8Bit(true));
        } else if (const auto *t = dynamic_cast<TableOfContentsFrame *>(frame)) {
            Id3::Toc &toc = out.tocs[std::string(t->elementID().data(), t->elementID().size())];
            toc.topLevel = t->isTopLevel();
            toc.ordered = t->isOrdered();
            for (const TagLib::ByteVector &child : t->childElements())
                toc.children.emplace_back(child.data(), child.size());
        }
    }
    return out;
}

// The elements in the order of the one top-level table of contents, the tables it holds
// expanded; empty unless there is just one top-level table and every table is ordered.
std::vector<std::string> TocOrder(const Id3 &id3) {
    std::vector<std::string> top, order;
    for (const auto &[id, toc] : id3.tocs) {
        if (!toc.ordered)
            return {};
        if (toc.topLevel)
            top.push_back(id);
    }
    const std::function<void(const std::string &, int)> walk = [&](const std::string &id,
                                                                   int depth) {
        for (const std::string &child : id3.tocs.at(id).children)
            if (id3.tocs.count(child) && depth < 4)
                walk(child, depth + 1);
            else
                order.push_back(child);
    };
    if (top.size() == 1)
        walk(top[0], 0);
    return order;
}

// What ffprobe reads of a file: its chapters and its format's tags.
struct Probed {
    std::vector<std::pair<double, std::string>> chapters; // start in seconds, title
    std::map<std::string, std::string> tags;
};

Probed Probe(const TempDir &dir, const std::string &path) {
    const std::string json = dir.File("probe.json");
    Run("ffprobe -v error -show_chapters -show_entries format_tags -of json " + Quote(path) + " >" +
        Quote(json));
    std::istringstream lines(
        Python(json, "for c in d.get('chapters', []):\n"
                     "    print('chapter', c['start_time'], c.get('tags', {}).get('title', ''))\n"
                     "for k, v in d['format'].get('tags', {}).items(): print('tag', k, v)\n"));
    Probed p;
    std::string kind, key, value;
    while (lines >> kind >> key && std::getline(lines, value)) {
        value.erase(0, 1);
        if (kind == "chapter")
            p.chapters.emplace_back(std::stod(key), value);
        else
            p.tags[key] = value;
    }
    return p;
}

// The frames each input becomes in a join to 44100 Hz stereo with --resample=mode: the
// listing's exact count for one at that rate, else what it adds to a join after a short WAV.
std::vector<std::uint64_t> OutputFrames(const TempDir &dir, const std::vector<std::string> &inputs,
                                        const std::string &mode) {
    const std::string lead = Synth(dir, "lead.wav", "-r 44100 -c 2 -b 16", "0.02 sine 500");
    const std::size_t leadBytes = WavData(lead).size();
    const std::vector<Row> rows = List(dir, inputs);
    std::vector<std::uint64_t> frames;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (rows[i].rate == 44100 && rows[i].exact) {
            frames.push_back(rows[i].frames);
            continue;
        }
        const std::string out = dir.File("alone.wav");
        Joined(RunTimed(dir.Path(),
                        {"-q", "--force", "--resample=" + mode, "-o", out, lead, inputs[i]}));
        frames.push_back((WavData(out).size() - leadBytes) / 4);
    }
    return frames;
}

// The chapters of a join's JSON summary: start frame, start in ms, title.
struct JsonChapter {
    std::uint64_t frame = 0, ms = 0;
    std::string title;
};

std::vector<JsonChapter> Chapters(const TempDir &dir, const std::string &summary,
                                  std::uint64_t &duration) {
    const std::string json = dir.File("summary.json");
    WriteFile(json, summary);
    std::istringstream lines(Python(json,
                                    "o = d['output']\n"
                                    "print(o['duration_frames'])\n"
                                    "for c in o.get('chapters', []):\n"
                                    "    print(c['start_frame'], c['start_ms'], c['title'])\n"));
    std::vector<JsonChapter> chapters;
    lines >> duration;
    JsonChapter c;
    while (lines >> c.frame >> c.ms && std::getline(lines, c.title)) {
        c.title.erase(0, 1);
        chapters.push_back(c);
    }
    return chapters;
}

// A CD time, mm:ss:ff, of a frame at 44100 Hz, rounded to the nearest CD frame.
std::string CdTime(std::uint64_t frame) {
    const std::uint64_t cd = (frame * 75 + 22050) / 44100;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", int(cd / 4500), int(cd / 75 % 60),
                  int(cd % 75));
    return text;
}

// The inputs of an album by "Kapelle": an MP3 with its tags and cover (cover.png, whose path
// is returned), a FLAC with a title, a WAV at 32000 Hz without tags, a Vorbis file with a title
// and an artist; none of a whole number of milliseconds.
std::string MakeAlbum(const TempDir &dir) {
    const std::string png = Picture(dir, "cover.png");
    LameMp3(dir, "01 Opening.mp3", 31013,
            "--tt " + Quote(kTitle) + " --ta " + Quote(kArtist) + " --tv TPE2=Kapelle --tl " +
                Quote(kAlbum) + " --ty 1999 --tg Jazz --ti " + Quote(png));
    Ffmpeg(dir, "02.flac",
           Tone(44100, 0.6129) + Metadata({{"title", "Второй акт"}}) + " -c:a flac");
    Ffmpeg(dir, "odd rate.wav", Tone(32000, 0.7771));
    Ffmpeg(dir, "04.ogg",
           Tone(44100, 0.4337) + Metadata({{"title", "終わり"}, {"artist", "Zoë"}}) +
               " -c:a libvorbis");
    return png;
}

// The CUE sheet of that album joined into out.mp3: one track per input, each with its title,
// its performer when it has one, and its start rounded to CD frames.
void ExpectCue(const std::string &cue, const std::vector<std::uint64_t> &starts,
               const std::vector<std::string> &titles, const std::vector<std::string> &performers) {
    EXPECT_EQ(
        cue.rfind("PERFORMER \"Kapelle\"\nTITLE \"" + kAlbum + "\"\nFILE \"out.mp3\" MP3\n", 0), 0u)
        << cue;
    std::ptrdiff_t lines = 3;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        char track[48];
        std::snprintf(track, sizeof track, "  TRACK %02zu AUDIO\n", i + 1);
        const std::string performer =
            performers[i].empty() ? "" : "    PERFORMER \"" + performers[i] + "\"\n";
        EXPECT_TRUE(Contains(cue, track + ("    TITLE \"" + titles[i] + "\"\n") + performer +
                                      "    INDEX 01 " + CdTime(starts[i]) + "\n"))
            << cue;
        lines += performer.empty() ? 3 : 4;
    }
    EXPECT_EQ(std::count(cue.begin(), cue.end(), '\n'), lines) << cue;
}

} // namespace

// Tags in several scripts, read from each kind of input, and the cover where one is attached.
TEST(CliTags, InputTagsAndCoversAreListed) {
    TempDir dir;
    const std::string png = Picture(dir, "cover.png"), jpeg = Picture(dir, "cover.jpg");
    const std::string sound = Tone(44100, 0.3);
    LameMp3(dir, "a.mp3", 4410,
            "--tt " + Quote(kTitle) + " --ta " + Quote(kArtist) + " --tl " + Quote(kAlbum) +
                " --ty 2001 --tg Jazz --ti " + Quote(png));
    const struct {
        const char *name, *codec;
        std::string cover;
        bool date;
    } made[] = {{"b.flac", "flac", Cover(jpeg), true},
                {"c.ogg", "libvorbis", "", true},
                {"d.opus", "libopus", "", true},
                {"e.m4a", "aac", Cover(png), true},
                {"f.wma", "wmav2", "", false},
                {"g.wav", "pcm_s16le", "", true},
                {"h.aiff", "pcm_s16be -write_id3v2 1", "", true}};
    std::vector<std::string> expected{kTitle + "|" + kArtist + "|" + kAlbum + "|2001|Jazz|True"};
    std::vector<std::string> inputs{"a.mp3"};
    for (const auto &m : made) {
        const std::string genre = std::string(m.name).substr(2);
        const std::string tags = Metadata({{"title", kTitle + " " + genre},
                                           {"artist", kArtist},
                                           {"album", kAlbum},
                                           {"date", "2001"},
                                           {"genre", genre}});
        Ffmpeg(dir, m.name, sound + m.cover + tags + " -c:a " + m.codec);
        expected.push_back(kTitle + " " + genre + "|" + kArtist + "|" + kAlbum + "|" +
                           (m.date ? "2001" : "") + "|" + genre + "|" +
                           (m.cover.empty() ? "False" : "True"));
        inputs.emplace_back(m.name);
    }
    std::vector<std::string> args{"--list", "--json"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    // Reading tags opens no input for writing: a file opened so is seen as changed by those
    // who watch the folder, and may be refused on a read-only mount.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.Path().c_str(), IN_CLOSE_WRITE | IN_MODIFY), 0);
    const CliResult list = RunTimed(dir.Path(), args);
    ASSERT_EQ(list.exitCode, 0) << list.err;
    alignas(inotify_event) char events[4096];
    const ssize_t got = ::read(watch, events, sizeof events);
    ::close(watch);
    EXPECT_LE(got, 0) << "first: "
                      << (got > 0 ? reinterpret_cast<const inotify_event *>(events)->name : "");
    WriteFile(dir.File("list.json"), list.out);
    std::istringstream lines(Python(
        dir.File("list.json"),
        "for i in d['inputs']:\n"
        "    t = i['tags']\n"
        "    print('|'.join([t.get(k, '') for k in ('title', 'artist', 'album', 'date', 'genre')]"
        " + [str(i['picture'])]))\n"));
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        std::string line;
        std::getline(lines, line);
        EXPECT_EQ(line, expected[i]) << inputs[i];
    }
}

// Four inputs of odd lengths, one at 32000 Hz, joined to MP3 with --tags --chapters and a CUE
// sheet, by either resampling: each chapter starts where the inputs before it end, in the
// JSON summary, the CHAP frames, ffprobe's reading and the sheet; the first input's album
// tags and cover lead the file, and the Info frame behind the tag still makes it gapless.
TEST(CliTags, Mp3ChaptersStartWhereEachInputDoes) {
    TempDir dir;
    const std::string cover = ReadFile(MakeAlbum(dir));
    const std::vector<std::string> inputs{"01 Opening.mp3", "02.flac", "odd rate.wav", "04.ogg"};
    const std::vector<std::string> titles{kTitle, "Второй акт", "odd rate", "終わり"};
    for (const std::string mode : {"repeat", "hq"}) {
        SCOPED_TRACE(mode);
        const std::vector<std::uint64_t> frames = OutputFrames(dir, inputs, mode);
        std::vector<std::uint64_t> starts{0};
        for (std::size_t i = 0; i + 1 < frames.size(); ++i)
            starts.push_back(starts.back() + frames[i]);
        std::vector<std::string> args{"-q",         "--force", "--json",  "--tags",
                                      "--chapters", "--cue",   "out.cue", "--resample=" + mode,
                                      "-o",         "out.mp3"};
        args.insert(args.end(), inputs.begin(), inputs.end());
        const CliResult join = RunTimed(dir.Path(), args);
        ASSERT_TRUE(Joined(join));
        std::uint64_t duration = 0;
        const std::vector<JsonChapter> json = Chapters(dir, join.out, duration);
        const Id3 id3 = ReadId3(dir.File("out.mp3"));
        const Probed probed = Probe(dir, dir.File("out.mp3"));
        ASSERT_EQ(json.size(), inputs.size()) << join.out;
        ASSERT_EQ(id3.chapterIds.size(), inputs.size());
        ASSERT_EQ(probed.chapters.size(), inputs.size());
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            SCOPED_TRACE(inputs[i]);
            const auto ms = std::uint32_t((starts[i] * 1000 + 22050) / 44100);
            EXPECT_EQ(json[i].frame, starts[i]);
            EXPECT_EQ(json[i].ms, ms);
            EXPECT_EQ(json[i].title, titles[i]);
            EXPECT_EQ(id3.chapterStartMs[i], ms);
            EXPECT_EQ(id3.chapterTitles[i], titles[i]);
            EXPECT_NEAR(probed.chapters[i].first, starts[i] / 44100.0, 0.001);
            EXPECT_EQ(probed.chapters[i].second, titles[i]);
        }
        EXPECT_EQ(duration, starts.back() + frames.back());
        EXPECT_EQ(Decode(dir.File("out.mp3"), 2).size() / 2, duration);
        // One ordered top-level table of the chapters, in their order.
        EXPECT_EQ(id3.tocs.size(), 1u);
        EXPECT_EQ(TocOrder(id3), id3.chapterIds);
        // The album's tags: its title is the album's, its artist the album artist.
        const std::map<std::string, std::string> tags{
            {"title", kAlbum}, {"artist", "Kapelle"}, {"album_artist", "Kapelle"},
            {"album", kAlbum}, {"date", "1999"},      {"genre", "Jazz"}};
        EXPECT_EQ(probed.tags, tags);
        EXPECT_EQ(id3.pictureMime, "image/png");
        EXPECT_TRUE(id3.picture == cover);
        ExpectCue(ReadFile(dir.File("out.cue")), starts, titles, {kArtist, "", "", "Zoë"});
    }
}

// Into a pipe, WAV inputs at the output's rate tell every chapter before the first byte: the
// chapters are there and right, the Info frame too. An MP3 without a frame count does not:
// its tags are written all the same, its chapters not.
TEST(CliTags, Mp3ChaptersOnAPipeWhenTheLengthsAreKnownAhead) {
    TempDir dir;
    const int lengths[] = {2205, 12345, 777};
    std::vector<std::string> wavs;
    for (int i = 0; i < 3; ++i) {
        wavs.push_back("w" + std::to_string(i) + ".wav");
        Ffmpeg(dir, wavs.back(),
               "-f lavfi -i sine=r=44100 -ac 2 -af atrim=end_sample=" + std::to_string(lengths[i]) +
                   Metadata({{"title", "Часть " + std::to_string(i)}, {"album", kAlbum}}));
    }
    LameMp3(dir, "counted.mp3", 20000, "-t --tt " + Quote(kTitle) + " --tl Uncounted");
    const auto pipe = [&](const std::string &out, const std::vector<std::string> &inputs) {
        std::string line =
            "cd " + Quote(dir.Path()) + " && " + Quote(Cli()) + " -q --tags --chapters -f mp3 -o -";
        for (const std::string &in : inputs)
            line += " " + Quote(in);
        const CommandResult r = testutil::Run(line + " | cat >" + Quote(out));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return ReadId3(dir.File(out));
    };
    const Id3 known = pipe("known.mp3", wavs);
    ASSERT_EQ(known.chapterIds.size(), 3u);
    std::uint64_t start = 0;
    for (int i = 0; i < 3; start += std::uint64_t(lengths[i++])) {
        EXPECT_EQ(known.chapterStartMs[i], (start * 1000 + 22050) / 44100);
        EXPECT_EQ(known.chapterTitles[i], "Часть " + std::to_string(i));
    }
    EXPECT_EQ(TocOrder(known), known.chapterIds);
    EXPECT_EQ(known.text.at("TALB"), kAlbum);
    EXPECT_EQ(Decode(dir.File("known.mp3"), 2).size() / 2, start);

    const Id3 unknown = pipe("unknown.mp3", {"counted.mp3", wavs[0]});
    EXPECT_TRUE(unknown.present);
    EXPECT_EQ(unknown.text.at("TIT2"), "Uncounted");
    EXPECT_EQ(unknown.text.at("TALB"), "Uncounted");
    EXPECT_TRUE(unknown.chapterIds.empty() && unknown.tocs.empty());
}

// Five hundred inputs give five hundred CHAP frames, quickly, in the order of one top-level
// table: a table holds at most 255 entries, so tables in it hold the rest.
TEST(CliTags, Mp3ChaptersOfFiveHundredInputs) {
    TempDir dir;
    const std::string part = Synth(dir, "part.wav", "-r 44100 -c 2 -b 16", "0.05 sine 440");
    const std::uint64_t frames = WavData(part).size() / 4;
    std::vector<std::string> args{"-q", "--chapters", "-o", "many.mp3"};
    for (int i = 1; i <= 500; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "part %03d.wav", i);
        ASSERT_EQ(::link(part.c_str(), dir.File(name).c_str()), 0);
        args.emplace_back(name);
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Joined(RunTimed(dir.Path(), args)));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 8.0);
    const Id3 id3 = ReadId3(dir.File("many.mp3"));
    ASSERT_EQ(id3.chapterIds.size(), 500u);
    const std::vector<std::string> order = TocOrder(id3);
    EXPECT_EQ(order.size(), 500u);
    EXPECT_TRUE(order == id3.chapterIds);
    EXPECT_EQ(id3.chapterTitles[0], "part 001");
    EXPECT_EQ(id3.chapterTitles[499], "part 500");
    EXPECT_EQ(id3.chapterStartMs[499], (499 * frames * 1000 + 22050) / 44100);
    EXPECT_EQ(Decode(dir.File("many.mp3"), 2).size() / 2, 500 * frames);
}

// Without the options an MP3 has no tag at all, byte for byte as with --no-tags
// --no-chapters; --title, --artist and --album alone write just those, and override the
// first input's with --tags. A CUE sheet that exists is not overwritten without --force, and
// the listing takes none.
TEST(CliTags, Mp3TagsOnlyWhenAskedFor) {
    TempDir dir;
    const std::string png = Picture(dir, "cover.png");
    LameMp3(dir, "a.mp3", 8000,
            "--tt " + Quote(kTitle) + " --ta " + Quote(kArtist) + " --tl " + Quote(kAlbum) +
                " --ty 2001 --ti " + Quote(png));
    Synth(dir, "b.wav", "-r 44100 -c 2 -b 16", "0.1 sine 300");
    const auto join = [&](const std::string &out, std::vector<std::string> options) {
        options.insert(options.end(), {"-q", "-o", out, "a.mp3", "b.wav"});
        Joined(RunTimed(dir.Path(), options));
        return ReadFile(dir.File(out));
    };
    const std::string plain = join("plain.mp3", {});
    EXPECT_EQ(join("none.mp3", {"--no-tags", "--no-chapters"}), plain);
    const Mp3Stream stream = ParseMp3(plain);
    EXPECT_TRUE(stream.parsed && stream.info);
    EXPECT_FALSE(ReadId3(dir.File("plain.mp3")).present);

    join("named.mp3", {"--title", "Τίτλος", "--artist", kArtist, "--album", "Альбом"});
    const Id3 named = ReadId3(dir.File("named.mp3"));
    EXPECT_EQ(named.ids, (std::vector<std::string>{"TIT2", "TPE1", "TALB"}));
    EXPECT_EQ(named.text, (std::map<std::string, std::string>{
                              {"TIT2", "Τίτλος"}, {"TPE1", kArtist}, {"TALB", "Альбом"}}));
    join("both.mp3", {"--tags", "--artist", "Zoë"});
    const Id3 both = ReadId3(dir.File("both.mp3"));
    EXPECT_EQ(both.text,
              (std::map<std::string, std::string>{
                  {"TIT2", kAlbum}, {"TPE1", "Zoë"}, {"TALB", kAlbum}, {"TDRC", "2001"}}));
    EXPECT_FALSE(both.picture.empty());

    WriteFile(dir.File("kept.cue"), "mine");
    const CliResult refused =
        RunTimed(dir.Path(), {"-q", "--cue", "kept.cue", "-o", "new.mp3", "a.mp3"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.err, "kept.cue")) << refused.err;
    EXPECT_FALSE(Exists(dir.File("new.mp3")));
    EXPECT_EQ(ReadFile(dir.File("kept.cue")), "mine");
    EXPECT_EQ(RunTimed(dir.Path(), {"--list", "--cue", "x.cue", "a.mp3"}).exitCode, 2);
    EXPECT_FALSE(Exists(dir.File("x.cue")));
    // A sheet in place of the output or an input, even with --force, or in no folder: refused
    // before anything is written; nor can a sheet number more than 99 tracks.
    const std::vector<std::vector<std::string>> misplaced = {
        {"--cue", "same.mp3", "-o", "same.mp3", "a.mp3"},
        {"--force", "--cue", "b.wav", "-o", "other.mp3", "b.wav"},
        {"--cue", "no/such/folder.cue", "-o", "lost.mp3", "a.mp3"}};
    for (std::vector<std::string> args : misplaced) {
        args.insert(args.begin(), "-q");
        EXPECT_EQ(RunTimed(dir.Path(), args).exitCode, 1) << args[2];
    }
    EXPECT_FALSE(Exists(dir.File("same.mp3")) || Exists(dir.File("other.mp3")) ||
                 Exists(dir.File("lost.mp3")));
    EXPECT_EQ(ReadFile(dir.File("b.wav")).substr(0, 4), "RIFF");
    std::vector<std::string> many = {"-q", "--cue", "many.cue", "-o", "many.mp3"};
    many.insert(many.end(), 100, "b.wav");
    EXPECT_EQ(RunTimed(dir.Path(), many).exitCode, 1);
    EXPECT_FALSE(Exists(dir.File("many.mp3")));
}
