// Every stream parser must give the same events however the bytes are cut,
// leave no escape sequence in any text it gives, and render whatever it
// gives without a fault.
#include "agent/eventrenderer.h"
#include "agent/streamparser.h"
#include "fuzzinput.h"

#include <QList>

namespace {

using Events = QList<AgentEvent>;

Events parse(StreamParser::Format format, QByteArrayView bytes, const std::vector<qsizetype>& cuts)
{
    const auto parser = StreamParser::create(format);
    Events events;
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        events += parser->feed(bytes.sliced(from, cut - from));
        from = cut;
    }
    events += parser->feed(bytes.sliced(from));
    return events + parser->finish();
}

bool isClean(const QString& text)
{
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return u == 0x1B || (u >= 0x80 && u <= 0x9F && u != 0x85);
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Input input(data, size);
    const QByteArrayView bytes(input.payload);
    for (auto format : {StreamParser::Format::Claude, StreamParser::Format::Gemini,
                        StreamParser::Format::Hermes}) {
        const Events whole = parse(format, bytes, {});
        require(parse(format, bytes, input.cuts(bytes.size())) == whole,
                "cut bytes give the events of the whole bytes");
        EventRenderer renderer;
        QList<StyledText> pieces;
        for (const AgentEvent& event : whole) {
            require(isClean(event.text) && isClean(event.tool), "texts are cleaned");
            renderer.render(event, pieces);
        }
        for (const StyledText& piece : pieces)
            require(!piece.text.isEmpty(), "no empty stretch");
    }
    return 0;
}
