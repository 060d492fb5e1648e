#pragma once
// The output area's text, read piece by piece from the item list by any
// thread (a search running beside the capture). Each call takes the capture
// lock only for as long as it renders the few items it was asked for.
//
// Offsets are positions in the output area's text as Save writes it
// (m_strOutput followed by the entries, UTF-16 code units, line ends
// unnormalised). The text covers the items the output area has indexed so
// far (CurrentExtent); items recorded since then join at the next catch-up.
//
// The capture engine keeps one for the output area: CCaptureEngine::OutputText().
#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <mutex>

class CDataItemArray;
class COutputTextIndex;

struct OutputTextPiece {
    qint64 start = 0;  // offset of text[0] in the output area's text
    QString text;
};

class COutputTextSource {
public:
    // Everything given is guarded by `captureLock` and outlives the source.
    COutputTextSource(std::mutex& captureLock, const QString& prefixText, const CDataItemArray& items,
                      const uint64_t& captureId, const COutputTextIndex& index);

    struct Extent {
        uint64_t captureId = 0;  // Clear Output starts a new capture with a new id
        qint64 items = 0;        // the items the text covers now
        qint64 chars = 0;        // the length of the text
    };
    Extent CurrentExtent() const;

    // The text of items [itemIndex, itemIndex + count) and the offset where
    // it starts; item -1 is m_strOutput, so a read from -1 starts at offset 0.
    // Items past the extent are left out (an empty piece when none is left).
    // False, with an empty piece, when the capture is no longer `captureId`.
    bool ReadPiece(uint64_t captureId, qint64 itemIndex, qint64 count, OutputTextPiece& piece) const;

    // The offset where item `item`'s entry starts (0 for item -1, the text's
    // length for the item just past the extent); -1 when the capture is no
    // longer `captureId` or the item lies beyond the extent.
    qint64 ItemTextStart(uint64_t captureId, qint64 item) const;

    // The item whose text holds `offset` (-1 for m_strOutput); -2 when the
    // capture is no longer `captureId` or the offset lies past the text.
    qint64 ItemAtOffset(uint64_t captureId, qint64 offset) const;

    // Bytes the index over the text occupies (the view's own memory beside
    // the item list, with its few rendered segments).
    qint64 IndexMemoryBytes() const;

private:
    std::mutex& m_lock;
    const QString& m_prefixText;
    const CDataItemArray& m_items;
    const uint64_t& m_captureId;
    const COutputTextIndex& m_index;
};
