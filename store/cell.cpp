// The compact stored cell.

#include "cell_p.h"

#include <QDateTime>

#include <limits>

namespace {

using TextData = QTypedArrayData<char16_t>;
using Latin1Data = QTypedArrayData<char>;

// Where a text block's characters begin when nothing was taken off its
// front: a QString whose characters begin there is kept by its block alone.
char16_t *charactersOf(QArrayData *block)
{
    return TextData::dataStart(block, alignof(TextData::AlignmentDummy));
}

char *bytesOf(QArrayData *block)
{
    return Latin1Data::dataStart(block, alignof(Latin1Data::AlignmentDummy));
}

// A block of `size` characters, which `fill` writes, and a terminating null;
// nullptr (and nothing kept) if its characters do not begin where the block
// alone can find them again (never, with Qt's allocator).
template <typename Data, typename Fill>
QArrayData *filledBlock(qsizetype size, Fill fill)
{
    auto [block, characters] = Data::allocate(size + 1);
    fill(characters);
    characters[size] = 0;
    if (characters != Data::dataStart(block, alignof(typename Data::AlignmentDummy))) {
        Data::deallocate(block);
        return nullptr;
    }
    return block;
}

} // namespace

Cell::Cell(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        if (!value.isValid())
            return;
        break;
    case QMetaType::QString:
        if (value.isNull())
            tag = TypedNull;
        else
            setText(*static_cast<const QString *>(value.constData()));
        return;
    case QMetaType::LongLong:
        if (!value.isNull()) {
            store(LongLong, value.toLongLong());
            return;
        }
        break;
    case QMetaType::Int:
        if (!value.isNull()) {
            store(Int, value.toInt());
            return;
        }
        break;
    case QMetaType::Double:
        if (!value.isNull()) {
            store(Double, value.toDouble());
            return;
        }
        break;
    case QMetaType::Bool:
        if (!value.isNull()) {
            store(Bool, value.toBool());
            return;
        }
        break;
    case QMetaType::QDateTime: {
        const auto *dateTime = static_cast<const QDateTime *>(value.constData());
        if (dateTime->isValid() && dateTime->timeSpec() == Qt::UTC) {
            store(UtcDateTime, dateTime->toMSecsSinceEpoch());
            return;
        }
        break;
    }
    default:
        break;
    }
    store(Boxed, new QVariant(value));
}

Cell::Cell(const Cell &other)
{
    std::memcpy(static_cast<void *>(this), static_cast<const void *>(&other), sizeof(Cell));
    if (kind() == Text || kind() == Latin1Text)
        load<QArrayData *>()->ref();
    else if (kind() == Boxed)
        store(Boxed, new QVariant(*other.load<QVariant *>()));
}

void Cell::release()
{
    if (kind() == Text) {
        QArrayData *block = load<QArrayData *>();
        if (!block->deref())
            TextData::deallocate(block);
    } else if (kind() == Latin1Text) {
        QArrayData *block = load<QArrayData *>();
        if (!block->deref())
            Latin1Data::deallocate(block);
    } else {
        delete load<QVariant *>();
    }
    tag = Untyped;
}

Cell Cell::integer(qint64 number)
{
    Cell cell;
    cell.store(LongLong, number);
    return cell;
}

Cell Cell::real(double number)
{
    Cell cell;
    cell.store(Double, number);
    return cell;
}

Cell Cell::typedNullText()
{
    Cell cell;
    cell.tag = TypedNull;
    return cell;
}

Cell Cell::utcDateTime(qint64 msecsSinceEpoch)
{
    Cell cell;
    cell.store(UtcDateTime, msecsSinceEpoch);
    return cell;
}

Cell Cell::latin1(const char *text, qsizetype size)
{
    Cell cell;
    if (size <= inlineSize) {
        std::memcpy(cell.raw, text, size_t(size));
        cell.tag = quint8(Latin1 | (size << kindBits));
        return cell;
    }
    if (size >= qsizetype(std::numeric_limits<quint32>::max())) {
        cell.store(Boxed, new QVariant(QString::fromLatin1(text, size)));
        return cell;
    }
    // Short texts are widened straight into a block of their own, as
    // QString::fromLatin1 would, and read back without a copy; longer ones
    // keep their bytes.
    const bool widened = size <= widenedLatin1Size;
    const auto widen = [text, size](char16_t *characters) {
        for (qsizetype i = 0; i < size; ++i)
            characters[i] = uchar(text[i]);
    };
    const auto copy = [text, size](char *bytes) { std::memcpy(bytes, text, size_t(size)); };
    QArrayData *block = widened ? filledBlock<TextData>(size, widen) : filledBlock<Latin1Data>(size, copy);
    if (!block) {
        cell.store(Boxed, new QVariant(QString::fromLatin1(text, size)));
        return cell;
    }
    cell.setBlock(widened ? Text : Latin1Text, block, size);
    return cell;
}

Cell Cell::text(const QString &text)
{
    Cell cell;
    cell.setText(text);
    return cell;
}

void Cell::setText(const QString &text)
{
    if (text.isNull()) {
        tag = NullString;
        return;
    }
    const qsizetype size = text.size();
    if (size <= inlineSize) {
        const QChar *characters = text.constData();
        bool latin1 = true;
        for (qsizetype i = 0; i < size; ++i)
            latin1 &= characters[i].unicode() < 0x100;
        if (latin1) {
            for (qsizetype i = 0; i < size; ++i)
                raw[i] = static_cast<unsigned char>(characters[i].unicode());
            tag = quint8(Latin1 | (size << kindBits));
            return;
        }
    }
    // The text's own block when its characters fill it from the start; a
    // text of static data, or one cut at its front, gets a block of its own.
    QString shared = text;
    QStringPrivate &data = shared.data_ptr();
    if (!data.d_ptr() || data.data() != charactersOf(data.d_ptr())) {
        shared = QString(text.constData(), size);
        if (!shared.data_ptr().d_ptr() || shared.data_ptr().data() != charactersOf(shared.data_ptr().d_ptr())
            || size >= qsizetype(std::numeric_limits<quint32>::max())) {
            store(Boxed, new QVariant(text));
            return;
        }
    } else if (size >= qsizetype(std::numeric_limits<quint32>::max())) {
        store(Boxed, new QVariant(text));
        return;
    }
    QArrayData *block = shared.data_ptr().d_ptr();
    block->ref();
    setBlock(Text, block, size);
}

void Cell::setBlock(Kind blockKind, QArrayData *block, qsizetype size)
{
    store(blockKind, block);
    const quint32 length = quint32(size);
    std::memcpy(raw + 8, &length, sizeof(length));
}

quint32 Cell::blockSize() const
{
    quint32 length;
    std::memcpy(&length, raw + 8, sizeof(length));
    return length;
}

QVariant Cell::value() const
{
    switch (kind()) {
    case Untyped:
        return QVariant();
    case TypedNull:
        return QVariant(QMetaType::fromType<QString>());
    case NullString:
        return QVariant(QString());
    case LongLong:
        return QVariant(load<qint64>());
    case Int:
        return QVariant(load<int>());
    case Double:
        return QVariant(load<double>());
    case Bool:
        return QVariant(load<bool>());
    case Latin1:
        return QVariant(QString::fromLatin1(reinterpret_cast<const char *>(raw), inlineLength()));
    case UtcDateTime:
        return QVariant(QDateTime::fromMSecsSinceEpoch(load<qint64>(), Qt::UTC));
    case Text: {
        auto *block = static_cast<TextData *>(load<QArrayData *>());
        block->ref();
        return QVariant(QString(QStringPrivate(block, charactersOf(block), qsizetype(blockSize()))));
    }
    case Latin1Text:
        return QVariant(QString::fromLatin1(bytesOf(load<QArrayData *>()), qsizetype(blockSize())));
    case Boxed:
        return *load<QVariant *>();
    }
    return QVariant();
}

const void *Cell::textData() const
{
    if (kind() == Text)
        return charactersOf(load<QArrayData *>());
    return kind() == Latin1Text ? bytesOf(load<QArrayData *>()) : nullptr;
}
