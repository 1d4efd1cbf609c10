#include "mp3/audioprint.h"

#include "files/fileaccess.h"

#ifdef TUNESIFT_HAS_AUDIO_PRINTS
#include <algorithm>
#include <array>
#include <chromaprint.h>
#include <memory>
#include <mpg123.h>
#include <optional>
#include <span>
#include <type_traits>
#ifdef TUNESIFT_CHROMAPRINT_LIBRARY
#include <dlfcn.h>
#endif
#endif

namespace tunesift {

#ifdef TUNESIFT_HAS_AUDIO_PRINTS

namespace {

// Raised whenever the way audio reaches the fingerprinter changes (rates, mixing, range).
constexpr int kPrintRevision = 2;

struct DecoderDeleter
{
    void operator()(mpg123_handle* decoder) const { mpg123_delete(decoder); }
};
using Decoder = std::unique_ptr<mpg123_handle, DecoderDeleter>;

// The fingerprinter's functions: linked, or looked up in the library when first wanted (see
// src/mp3/CMakeLists.txt). All or none.
struct Fingerprinter
{
    decltype(&chromaprint_get_version) version = nullptr;
    decltype(&chromaprint_new) create = nullptr;
    decltype(&chromaprint_free) destroy = nullptr;
    decltype(&chromaprint_start) start = nullptr;
    decltype(&chromaprint_feed) feed = nullptr;
    decltype(&chromaprint_finish) finish = nullptr;
    decltype(&chromaprint_get_raw_fingerprint) rawPrint = nullptr;
    decltype(&chromaprint_dealloc) release = nullptr;

    bool complete() const
    {
        return version && create && destroy && start && feed && finish && rawPrint && release;
    }
};

const Fingerprinter& fingerprinter()
{
    static const Fingerprinter loaded = [] {
        Fingerprinter f;
#ifdef TUNESIFT_CHROMAPRINT_LIBRARY
        // Never unloaded: threads keep their printers to the end.
        void* const library = ::dlopen(TUNESIFT_CHROMAPRINT_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr)
            return f;
        const auto find = [library](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                ::dlsym(library, name));
        };
        find(f.version, "chromaprint_get_version");
        find(f.create, "chromaprint_new");
        find(f.destroy, "chromaprint_free");
        find(f.start, "chromaprint_start");
        find(f.feed, "chromaprint_feed");
        find(f.finish, "chromaprint_finish");
        find(f.rawPrint, "chromaprint_get_raw_fingerprint");
        find(f.release, "chromaprint_dealloc");
        if (!f.complete())
            f = Fingerprinter();
#else
        f = {&chromaprint_get_version,
             &chromaprint_new,
             &chromaprint_free,
             &chromaprint_start,
             &chromaprint_feed,
             &chromaprint_finish,
             &chromaprint_get_raw_fingerprint,
             &chromaprint_dealloc};
#endif
        return f;
    }();
    return loaded;
}

struct PrinterDeleter
{
    void operator()(ChromaprintContext* printer) const { fingerprinter().destroy(printer); }
};
using Printer = std::unique_ptr<ChromaprintContext, PrinterDeleter>;

// How the decoder is asked for the fingerprinter's own rate, so that the fingerprinter's
// resampler has nothing to do: most rates (44.1 and 22.05 kHz) halve or quarter to it in the
// decoder's synthesis, which is cheapest; the others (48, 32, 24, 16 kHz...) it synthesises at
// that rate directly; lower rates stay as they are. The decoder skips the subbands above the
// output rate either way, and a print made so matches one made at the full rate.
struct DecodeRate
{
    int steps = 0;   // halvings
    long forced = 0; // the rate asked for where no halving reaches it
};

DecodeRate decodeRateFor(int frequency)
{
    DecodeRate rate;
    while (rate.steps < 2 && (frequency >> (rate.steps + 1)) >= kLowestDecodeRate)
        ++rate.steps;
    if (frequency > kLowestDecodeRate && (frequency >> rate.steps) != kLowestDecodeRate)
        rate = {0, kLowestDecodeRate};
    return rate;
}

enum class DecodeEnd
{
    Done,
    ReadFailed,
    RateTooLow, // the first header told another rate than the stream has: decode again
};

// Every rate a down-sampled MPEG stream can have, mono 16-bit only.
bool allowOutputFormats(mpg123_handle* decoder)
{
    constexpr std::array<long, 9> kRates = {8000,  11025, 12000, 16000, 22050,
                                            24000, 32000, 44100, 48000};
    if (mpg123_format_none(decoder) != MPG123_OK)
        return false;
    for (const long rate : kRates)
        if (mpg123_format(decoder, rate, MPG123_MONO, MPG123_ENC_SIGNED_16) != MPG123_OK)
            return false;
    return true;
}

DecodeEnd decodeInto(ChromaprintContext* printer, const ReadOnlyFile& file, const AudioRange& range,
                     DecodeRate wanted, bool& started)
{
    started = false;
    const int steps = wanted.steps;
    int error = MPG123_OK;
    const Decoder decoder(mpg123_new(nullptr, &error));
    if (!decoder ||
        mpg123_param(decoder.get(), MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_MONO_MIX, 0.0) !=
            MPG123_OK ||
        mpg123_param(decoder.get(), MPG123_DOWN_SAMPLE, steps, 0.0) != MPG123_OK ||
        mpg123_param(decoder.get(), MPG123_FORCE_RATE, wanted.forced, 0.0) != MPG123_OK ||
        !allowOutputFormats(decoder.get()) || mpg123_open_feed(decoder.get()) != MPG123_OK)
        return DecodeEnd::Done; // nothing decoded: an empty print

    constexpr std::size_t kInputBlock = 64 * 1024;
    std::array<unsigned char, kInputBlock> input{};
    std::array<std::int16_t, 8192> output{};
    long rate = 0;
    std::int64_t samplesLeft = 0;
    std::int64_t offset = range.start;
    const std::int64_t end = range.start + range.length;
    for (;;) {
        for (;;) {
            std::size_t bytes = 0;
            const int status = mpg123_read(decoder.get(), output.data(),
                                           output.size() * sizeof(std::int16_t), &bytes);
            if (status == MPG123_NEW_FORMAT) {
                long newRate = 0;
                int channels = 0;
                int encoding = 0;
                if (mpg123_getformat(decoder.get(), &newRate, &channels, &encoding) != MPG123_OK ||
                    channels != 1 || encoding != MPG123_ENC_SIGNED_16)
                    return DecodeEnd::Done;
                if (started)
                    return DecodeEnd::Done; // another stream follows: the print ends here
                if (newRate < kLowestDecodeRate && steps > 0)
                    return DecodeEnd::RateTooLow;
                rate = newRate;
                if (fingerprinter().start(printer, static_cast<int>(rate), 1) != 1)
                    return DecodeEnd::Done;
                started = true;
                samplesLeft = static_cast<std::int64_t>(rate) * kPrintSeconds;
                continue;
            }
            if (started && bytes > 0) {
                // Mono: every sample is a whole frame of the fingerprinter's input.
                const auto samples =
                    std::min<std::int64_t>(samplesLeft, static_cast<std::int64_t>(bytes / 2));
                if (fingerprinter().feed(printer, output.data(), static_cast<int>(samples)) != 1)
                    return DecodeEnd::Done;
                samplesLeft -= samples;
                if (samplesLeft == 0)
                    return DecodeEnd::Done;
            }
            if (status == MPG123_NEED_MORE)
                break;
            if (status == MPG123_OK)
                continue;
            if (status == MPG123_ERR && mpg123_errcode(decoder.get()) == MPG123_BAD_OUTFORMAT &&
                !started && steps > 0)
                return DecodeEnd::RateTooLow;
            return DecodeEnd::Done; // the end of the stream, or a stream that cannot go on
        }
        if (offset >= end)
            return DecodeEnd::Done;
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(input.size()), end - offset));
        const std::optional<std::size_t> got = file.readAt(offset, std::span(input).first(want));
        if (!got)
            return DecodeEnd::ReadFailed;
        if (*got == 0)
            return DecodeEnd::Done; // the file has become shorter
        if (mpg123_feed(decoder.get(), input.data(), *got) != MPG123_OK)
            return DecodeEnd::Done;
        offset += static_cast<std::int64_t>(*got);
    }
}

} // namespace

bool AudioPrintsAvailable()
{
    return fingerprinter().complete();
}

const std::string& AudioPrintPipeline()
{
    static const std::string name = "mpg123 api " + std::to_string(MPG123_API_VERSION) +
                                    ", chromaprint " +
                                    (AudioPrintsAvailable() ? fingerprinter().version() : "none") +
                                    " default algorithm, print " + std::to_string(kPrintRevision);
    return name;
}

AudioPrintResult MakeAudioPrint(const ReadOnlyFile& file, const AudioRange& range, int frequency)
{
    AudioPrintResult result;
    if (!AudioPrintsAvailable())
        return result;
    thread_local const Printer printer(fingerprinter().create(CHROMAPRINT_ALGORITHM_DEFAULT));
    if (!printer)
        return result;
    if (range.empty()) {
        result.outcome = AudioPrintResult::Outcome::Made;
        return result;
    }
    file.adviseSequential(range.start, range.length);
    bool started = false;
    DecodeEnd end = DecodeEnd::RateTooLow;
    for (DecodeRate rate = decodeRateFor(frequency);
         end == DecodeEnd::RateTooLow && rate.steps >= 0; --rate.steps)
        end = decodeInto(printer.get(), file, range, rate, started);
    if (end == DecodeEnd::ReadFailed)
        return result;
    result.outcome = AudioPrintResult::Outcome::Made;
    if (!started || fingerprinter().finish(printer.get()) != 1)
        return result;
    std::uint32_t* values = nullptr;
    int size = 0;
    if (fingerprinter().rawPrint(printer.get(), &values, &size) == 1 && values != nullptr) {
        result.values.assign(values, values + std::max(size, 0));
        fingerprinter().release(values);
    }
    return result;
}

#else // no decoder or fingerprinter in this build

bool AudioPrintsAvailable()
{
    return false;
}

const std::string& AudioPrintPipeline()
{
    static const std::string none;
    return none;
}

AudioPrintResult MakeAudioPrint(const ReadOnlyFile&, const AudioRange&, int)
{
    return {};
}

#endif

} // namespace tunesift
