// One bank: an ordered list of up to 16 situations that sound and are
// played together, one of them selected. Return adds a situation (at most
// 15 that way; duplication can fill the 16th slot), BackSpace deletes the
// selected one, Space moves the selection, '/' toggles solo mode, in which
// only the selected situation sounds and takes reports and keys.
// Samples: the plain 32-bit sum of the situations' pairs, engine units
// (16 per 16-bit step); the host clips. Paints four stripes and one row
// per situation. Saves to and loads from the patch text file.
// The bank keeps storage for all 16 situations from the start: adding,
// deleting and duplicating make and end situations in it, so nothing is
// taken from or given back to the heap while sound plays.
#pragma once

#include "engine/ChubberySituation.h"
#include "engine/PatchFile.h"
#include "engine/PatchWords.h"
#include "engine/Canvas.h"
#include "engine/FileReplace.h"
#include "engine/ChubReport.h"
#include "engine/KeyNote.h"
#include "lattice/PerspexStabile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class MultiplexPotentiator {
public:
    static constexpr int kSlots = 16;     // what duplication can fill
    static constexpr int kMaxAdded = 15;  // what adding (and loading) can fill

    // A fresh bank with one fresh situation, selected, not solo.
    explicit MultiplexPotentiator(PerspexStabile* stabile) : stabile(stabile) {
        init();
        situations[0] = &store[0].emplace(static_cast<ChubDevice*>(nullptr), stabile);
        count = 1;
    }

    // A copy of every situation of the source bank; the selection goes back
    // to the first and solo mode is off.
    MultiplexPotentiator(MultiplexPotentiator* source, PerspexStabile* stabile)
        : stabile(stabile) {
        init();
        copyFrom(source);
    }

    MultiplexPotentiator(const MultiplexPotentiator&) = delete;
    MultiplexPotentiator& operator=(const MultiplexPotentiator&) = delete;

    void init() {
        brushes[0] = GRAXBRUSHWAND(200, 0, 0);
        brushes[1] = GRAXBRUSHWAND(200, 200, 200);
        brushes[2] = GRAXBRUSHWAND(200, 200, 0);
        brushes[3] = GRAXBRUSHWAND(10, 10, 10);
        for (ChubberySituation*& s : situations) s = nullptr;
    }

    // Becomes a copy of every situation of `source` (another bank), as the
    // copying constructor makes it, in this bank's own storage.
    void copyFrom(MultiplexPotentiator* source) {
        for (int k = 0; k < kSlots; k++) chubdel();
        selected = 0;
        solo = 0;
        int n = source->chubamt();
        for (int k = 0; k < n; k++) situations[k] = place(source->getSituation(k));
        count = n;
    }

    // Appends a fresh situation with the given controller handle.
    void chubadd(ChubDevice* handle) { add(handle); }

    // Appends a fresh situation and returns its slot; when the bank is
    // already full it adds nothing and returns 14, so the loader reads a
    // surplus block into the last situation it could add.
    int chubadd() { return add(nullptr); }

    // Deletes the selected situation; the one after it becomes selected
    // (the first, when the last was deleted). An empty bank stays empty.
    void chubdel() {
        count = count - 1;
        if (count < 0) {
            count = 0;
            return;
        }
        end(situations[selected]);
        for (int k = selected; k < count; k++) situations[k] = situations[k + 1];
        situations[count] = nullptr;
        if (count != 0) selected = selected % count;
    }

    int chubamt() { return count; }

    // Duplicates the selected situation in place: the copy stands right
    // after it, later situations move up, the original stays selected.
    void chubdupe() {
        if (count <= 0 || count >= kSlots || !situations[selected]) return;
        ChubberySituation* copy = place(situations[selected]);
        for (int k = count - 1; k > selected; k--) situations[k + 1] = situations[k];
        situations[selected + 1] = copy;
        count = count + 1;
    }

    int getSelected() { return selected; }
    int getSolo() { return solo; }
    ChubberySituation* getSituation(int index) {
        return index >= 0 && index < kSlots ? situations[index] : nullptr;
    }

    // One controller report. Reports shorter than the 8 bytes a situation
    // reads are padded with zero bytes, so nothing reads past the report.
    void chubness(ChubDevice* handle, _CHUBREPORT report) {
        if (!handle || report.length <= 5 || !report.bytes) return;
        signed char bytes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        memcpy(bytes, report.bytes, report.length < 8 ? report.length : 8);
        if (solo) {
            if (count > 0) situations[selected]->chubspon(bytes);
            return;
        }
        for (int k = 0; k < count; k++) situations[k]->chubspon(bytes);
    }

    // One frame: the sum of the situations' pairs (only the selected one in
    // solo mode). Returns the address of (left, right).
    //
    // Every situation's oscillators step first, then every situation
    // modulates and mixes. Each half of a situation's frame is one long
    // chain of dependent steps, and situations share nothing in a frame, so
    // taking the halves in turn over all situations lets the CPU work on
    // the chains of several situations at once; one whole frame after the
    // other left it only the end of one and the start of the next.
    LANES_FRAME int* gingness(int a, int b) {
        int left = 0, right = 0;
        if (solo) {
            if (count > 0) addPair(situations[selected]->ging(a, b), left, right);
        } else {
            // Local copies, so the stores of the situations' frames cannot
            // make the loops read them again.
            int n = count;
            ChubberySituation* const* all = situations;
            for (int k = 0; k < n; k++) all[k]->gingVoices();
            for (int k = 0; k < n; k++) addPair(all[k]->gingMix(a, b), left, right);
        }
        mixed[0] = left;
        mixed[1] = right;
        return mixed;
    }

    // Whether the situations that sound (only the selected one in solo
    // mode) are all quiet in the period now starting (see the situation's
    // quiet): every frame of it is then (0, 0).
    bool quiet() const {
        if (solo) return count == 0 || situations[selected]->quiet();
        for (int k = 0; k < count; k++)
            if (!situations[k]->quiet()) return false;
        return true;
    }

    // `frames` frames of a quiet period at once, but for what the last
    // frame leaves (see the situation's passQuietly): the situations that
    // would step, step.
    void passQuietly(long long frames) {
        if (solo) {
            if (count > 0) situations[selected]->passQuietly(frames);
            return;
        }
        for (int k = 0; k < count; k++) situations[k]->passQuietly(frames);
    }

    // Frames first, first + stride, ... (`many` of them) of a period of
    // `frames`, exactly as gingness called for each in turn: frame f's
    // pair goes to pairs[2f], pairs[2f + 1]. Nothing reaches the
    // situations between the frames, so what their frames keep fixed in a
    // period of the usual length is taken once for the run.
    LANES_FRAME void gingFrames(int first, int stride, int many, int frames, int* pairs) {
        if (solo || frames != RoyalFMoutarde::kPeriod) {
            for (int k = 0, f = first; k < many; k++, f += stride) {
                int* pair = gingness(f, frames);
                pairs[2 * f] = pair[0];
                pairs[2 * f + 1] = pair[1];
            }
            return;
        }
        int n = count;
        ChubberySituation* const* all = situations;
        ChubberySituation::Run runs[kSlots];
        for (int s = 0; s < n; s++) runs[s] = all[s]->takeRun();
        for (int k = 0, f = first; k < many; k++, f += stride) {
            for (int s = 0; s < n; s++) all[s]->gingVoicesIn(runs[s]);
            Lanes frameLanes = everyLane(f);
            int left = 0, right = 0;
            for (int s = 0; s < n; s++) addPair(all[s]->gingMixIn(runs[s], frameLanes, f), left, right);
            pairs[2 * f] = mixed[0] = left;
            pairs[2 * f + 1] = mixed[1] = right;
        }
    }

    // End of a period reaches every situation, solo or not.
    void beging() {
        for (int k = 0; k < count; k++) situations[k]->beging();
    }

    // A mouse press reaches every situation, solo or not.
    void mouseButt(_pointille point) {
        for (int k = 0; k < count; k++) situations[k]->mouseButts(point);
    }

    // One key: Return adds, Space moves the selection, '/' toggles solo,
    // BackSpace deletes; then every key, these four included, goes on to
    // the situations (only the selected one in solo mode).
    void charactros(unsigned char key) {
        if (key == 13) chubadd(nullptr);
        if (key == 32 && count != 0) selected = (selected + 1) % count;
        if (key == 47) solo = !solo;
        if (key == 8) chubdel();
        char k = static_cast<char>(key);
        if (solo) {
            if (count > 0) situations[selected]->charactros(k);
            return;
        }
        for (int s = 0; s < count; s++) situations[s]->charactros(k);
    }

    // A key played as a note. Down takes a voice: the one that already
    // plays the key (struck again), else the first free voice of the
    // selected situation, then of the others in bank order, else the voice
    // of the oldest note, which gives it up. In solo mode only the selected
    // situation sounds, so only it plays notes. Up ends the key's note
    // wherever it sounds, AllUp every note.
    void keynote(const KeyNote& note) {
        if (note.kind != KeyNote::Kind::Down) {
            for (int k = 0; k < count; k++)
                for (int v = 0; v < 4; v++) {
                    int key = situations[k]->keyOf(v);
                    if (key >= 0 && (note.kind == KeyNote::Kind::AllUp || key == note.key)) situations[k]->endKey(v);
                }
            return;
        }
        if (count <= 0) return;
        ChubberySituation *same = nullptr, *free = nullptr, *oldest = nullptr;
        int sameVoice = 0, freeVoice = 0, oldestVoice = 0;
        int looked = solo ? 1 : count;
        for (int n = 0; n < looked && !same; n++) {
            // The selected situation first, then the others in bank order.
            ChubberySituation* s = situations[n == 0 ? selected : n <= selected ? n - 1 : n];
            for (int v = 0; v < 4 && !same; v++) {
                int key = s->keyOf(v);
                if (key == note.key) same = s, sameVoice = v;
                else if (key < 0 && !free) free = s, freeVoice = v;
                else if (key >= 0 && (!oldest || s->keyAge(v) < oldest->keyAge(oldestVoice))) oldest = s, oldestVoice = v;
            }
        }
        ChubberySituation* s = same ? same : free ? free : oldest;
        int v = same ? sameVoice : free ? freeVoice : oldestVoice;
        s->playKey(v, note.key, note.velocity, note.nume, note.deno, ++notes);
    }

    // Paints four stripes over the whole window and one row per situation.
    // The selected situation is drawn last, in the bottom row; the others
    // go backwards through the list from the one before it.
    void graxness(_CHDC chdc) {
        unsigned q = chdc.width / 4;
        for (int s = 0; s < 4; s++)
            fill(chdc, brushes[s], static_cast<int>(s * q), 0, q, chdc.height);
        unsigned rowh = chdc.height / static_cast<unsigned>(count + 1);
        if (solo) fill(chdc, brushes[3], 0, 0, chdc.width, static_cast<unsigned>(count) * rowh);
        for (int d = 0; d < count; d++) {
            int k = (count + selected - d - 1) % count;
            if (situations[k])
                situations[k]->draw(chdc, static_cast<int>(q), static_cast<int>(rowh), d + 1);
        }
    }

    // Saves every situation to `path`. The text goes to a new file in the
    // same folder first and replaces the old one only when it has been
    // written completely, so a failed save never destroys the previous
    // patch. Success prints the path on standard output; failure says
    // what went wrong on standard error.
    void textorium_trigger(char* path) {
        std::string reason = FileReplace::write(path, [this](FILE* f) { text(f); });
        if (reason.empty()) {
            printf("%s \n", path);
            fflush(stdout);
        } else {
            fprintf(stderr, "quorvanel: cannot save %s: %s\n", path, reason.c_str());
        }
    }

    // Replaces the bank's situations by those of the file at `path`. A file
    // that cannot be read leaves the bank untouched. Otherwise the bank is
    // emptied and up to 16 "chubby" blocks are read in file order; a block
    // that finds the bank full is read into its last situation again, and
    // a 17th ends the load. A line the loader cannot read is skipped and
    // the load goes on. What the loader changes or skips goes to standard
    // error as "PATH:LINE: what".
    void textorium_script(char* path) {
        std::string bytes, why;
        if (!PatchFile::read(path, bytes, why)) return;
        load(std::vector<char>(bytes.begin(), bytes.end()), kMaxAdded, warnOn(stderr, path));
    }

    // A sink that writes a load's warnings on `f` as "NAME:LINE: what",
    // counting them in `count` when given.
    static PatchWords::Warn warnOn(FILE* f, const char* name, int* count = nullptr) {
        return [f, file = std::string(name), count](int line, const std::string& text) {
            std::fprintf(f, "%s:%d: %s\n", file.c_str(), line, text.c_str());
            if (count) ++*count;
        };
    }

    // The same from a patch text already in memory (the plugin's state and
    // its bank files, read off the audio thread).
    // `room`: the situations a load may fill; a view of a bank as it
    // stands (duplication may have filled all 16) passes kSlots.
    // `warn`: where this load's warnings go (none: it says nothing).
    void load(std::vector<char>&& bytes, int room = kMaxAdded, PatchWords::Warn warn = {}) {
        words.open(std::move(bytes), std::move(warn), keyword);
        const char* w = words.next();
        for (int k = 0; k < kSlots; k++) chubdel();
        int block = 0;
        while (w && block < kSlots) {
            if (!PatchWords::is(w, "chubby", 6)) {  // only before the first block: the situations read the rest
                words.warnAt(words.line(), PatchWords::quoted(w) +
                                               " is out of place before the first situation block (\"chubby\"); "
                                               "the line is skipped");
                words.skipLine();
                w = words.next();
                continue;
            }
            if (count == room)
                words.warn("situation block " + std::to_string(block + 1) + ": the bank holds " + std::to_string(room) +
                           ", so it is read into the last situation again");
            words.skip(1);  // the written position; blocks load in file order
            w = situations[add(nullptr, room)]->textum(words);
            block++;
        }
        if (w && words.warns()) {
            int from = words.line(), to = words.lastLine();
            words.warnAt(from, "situation block " + std::to_string(block + 1) + ": a load reads 16 at most; the load stops here, and " +
                                   (from == to ? "line " + std::to_string(from) + " is not read"
                                               : "lines " + std::to_string(from) + " to " + std::to_string(to) + " are not read"));
        }
        words.close();
    }

    // The patch text of every situation, as a save writes it.
    void text(FILE* f) {
        for (int i = 0; i < count; i++) {
            if (!situations[i]) continue;
            fprintf(f, "chubby %d\n", i);
            situations[i]->text(f);
        }
    }

    // Sets the selection and solo mode as a saved instrument had them; a
    // selection past the situations there are is ignored.
    void choose(int index, int soloMode) {
        if (index >= 0 && index < count) selected = index;
        solo = soloMode ? 1 : 0;
    }

private:
    int add(ChubDevice* handle, int room = kMaxAdded) {
        // A full bank refuses: with 16 duplicated situations nothing is
        // dropped either.
        if (count < room) {
            situations[count] = &store[freeSlot()].emplace(handle, stabile);
            count = count + 1;
        }
        if (count != 0) selected = selected % count;
        return (count < room ? count : room) - 1;
    }

    // Whether a word is a keyword of the format somewhere (by the same
    // leading characters the readers test): what the word stream passes
    // to the readers.
    static bool keyword(const char* w) {
        static const std::pair<const char*, size_t> kWords[] = {
            {"chubby", 6},   {"barre", 5},    {"atrest", 5},   {"kingal", 5},  {"queenal", 5},
            {"chink", 5},    {"inhib", 5},    {"prime", 5},    {"stritton", 8}, {"strittle", 8},
            {"spong", 5},    {"rat", 3},      {"bitsh", 5},    {"gingz", 5},   {"quizno", 6},
            {"royalmi", 7},  {"royalfm", 7},  {"numals", 5},   {"denals", 5}};
        for (const auto& [k, n] : kWords)
            if (PatchWords::is(w, k, n)) return true;
        return false;
    }

    static void addPair(const int* pair, int& left, int& right) {
        left += pair[0];
        right += pair[1];
    }

    // A copy of `source` in a free place of the storage. There is always
    // one: the callers never hold more than 16 situations.
    ChubberySituation* place(ChubberySituation* source) {
        return &store[freeSlot()].emplace(source, stabile);
    }

    int freeSlot() const {
        int k = 0;
        while (k < kSlots - 1 && store[k]) k++;
        return k;
    }

    // Ends a situation and gives its place back.
    void end(ChubberySituation* s) {
        for (std::optional<ChubberySituation>& place : store)
            if (place && &*place == s) place.reset();
    }

    static void fill(_CHDC chdc, Colour c, int x, int y, unsigned w, unsigned h) {
        grax_colour(chdc, c);
        grax_fill(chdc, x, y, w, h);
    }

    int count = 0;
    long long notes = 0;    // keys' notes begun: their ages
    int mixed[2] = {0, 0};  // left, right of the last gingness
    int solo = 0;
    int selected = 0;
    ChubberySituation* situations[kSlots];     // in bank order; null past count
    std::optional<ChubberySituation> store[kSlots];  // where they live, in no order
    PerspexStabile* stabile;  // shared, not owned
    PatchWords words;         // the loader's word stream
    Colour brushes[4];
};
