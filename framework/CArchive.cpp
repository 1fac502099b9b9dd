#include "framework/CArchive.h"

#include <climits>
#include <cstring>

namespace {

// An archived string's length is a byte below kWordFollows, or kWordFollows and
// a WORD below kDwordFollows, or both markers and a DWORD. kWideText in the WORD
// marks a UTF-16 text, which this archive does not read.
const BYTE kWordFollows = 0xFF;
const WORD kWideText = 0xFFFE;
const WORD kDwordFollows = 0xFFFF;

} // namespace

CArchive::CArchive(CByteStream* stream, UINT mode, int bufferSize)
    : m_stream(stream), m_loading((mode & load) != 0), m_buffer(static_cast<size_t>(bufferSize > 0 ? bufferSize : 4096))
{}

CArchive::~CArchive() = default;

void CArchive::CheckMode(bool loading) const
{
    if (!m_stream)
        AfxThrowArchiveException(CArchiveException::genericException);
    if (loading != m_loading)
        AfxThrowArchiveException(loading ? CArchiveException::writeOnly : CArchiveException::readOnly,
                                 m_stream->GetFilePath());
}

void CArchive::ThrowEndOfFile() const
{
    AfxThrowArchiveException(CArchiveException::endOfFile, m_stream ? m_stream->GetFilePath().GetString() : nullptr);
}

UINT CArchive::Read(void* buffer, UINT count)
{
    CheckMode(true);
    BYTE* out = static_cast<BYTE*>(buffer);
    UINT done = 0;
    while (done < count) {
        if (m_current == m_end) {
            m_current = 0;
            m_end = m_stream->Read(m_buffer.data(), static_cast<UINT>(m_buffer.size()));
            if (m_end == 0)
                break;
        }
        size_t n = m_end - m_current;
        if (n > count - done)
            n = count - done;
        std::memcpy(out + done, m_buffer.data() + m_current, n);
        m_current += n;
        done += static_cast<UINT>(n);
    }
    return done;
}

void CArchive::ReadExactly(void* buffer, UINT count)
{
    if (Read(buffer, count) != count)
        ThrowEndOfFile();
}

void CArchive::Write(const void* buffer, UINT count)
{
    CheckMode(false);
    const BYTE* in = static_cast<const BYTE*>(buffer);
    while (count > 0) {
        if (m_current == m_buffer.size())
            Flush();
        size_t n = m_buffer.size() - m_current;
        if (n > count)
            n = count;
        std::memcpy(m_buffer.data() + m_current, in, n);
        m_current += n;
        in += n;
        count -= static_cast<UINT>(n);
    }
}

void CArchive::Flush()
{
    if (!m_stream || m_loading || m_current == 0)
        return;
    size_t n = m_current;
    // The bytes count as handed over even when the write fails, so that a
    // failed write is reported once.
    m_current = 0;
    m_stream->Write(m_buffer.data(), static_cast<UINT>(n));
}

void CArchive::Close()
{
    if (!m_stream)
        return;
    if (!m_loading)
        Flush();
    m_stream = nullptr;
}

void CArchive::Abort()
{
    m_current = m_end = 0;
    m_stream = nullptr;
}

ULONGLONG CArchive::GetRemainingLength() const
{
    if (!m_stream || !m_loading)
        return 0;
    ULONGLONG length = m_stream->GetLength();
    ULONGLONG position = m_stream->GetPosition();
    return (m_end - m_current) + (length > position ? length - position : 0);
}

CArchive& CArchive::operator<<(BYTE value)
{
    Write(&value, 1);
    return *this;
}

CArchive& CArchive::operator<<(WORD value)
{
    BYTE bytes[2] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8)};
    Write(bytes, 2);
    return *this;
}

CArchive& CArchive::operator<<(DWORD value)
{
    BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                     static_cast<BYTE>(value >> 24)};
    Write(bytes, 4);
    return *this;
}

CArchive& CArchive::operator<<(int value)
{
    return *this << static_cast<DWORD>(static_cast<unsigned int>(value));
}

CArchive& CArchive::operator>>(BYTE& value)
{
    ReadExactly(&value, 1);
    return *this;
}

CArchive& CArchive::operator>>(WORD& value)
{
    BYTE bytes[2];
    ReadExactly(bytes, 2);
    value = static_cast<WORD>(bytes[0] | (bytes[1] << 8));
    return *this;
}

CArchive& CArchive::operator>>(DWORD& value)
{
    BYTE bytes[4];
    ReadExactly(bytes, 4);
    value = static_cast<DWORD>(bytes[0]) | (static_cast<DWORD>(bytes[1]) << 8) | (static_cast<DWORD>(bytes[2]) << 16) |
            (static_cast<DWORD>(bytes[3]) << 24);
    return *this;
}

CArchive& CArchive::operator>>(int& value)
{
    DWORD raw;
    *this >> raw;
    value = static_cast<int>(static_cast<unsigned int>(raw));
    return *this;
}

void CArchive::WriteStringLength(ULONGLONG length)
{
    if (length < kWordFollows) {
        *this << static_cast<BYTE>(length);
    } else if (length < kWideText) {
        *this << kWordFollows << static_cast<WORD>(length);
    } else {
        *this << kWordFollows << kDwordFollows << static_cast<DWORD>(length);
    }
}

ULONGLONG CArchive::ReadStringLength()
{
    BYTE byteLength;
    *this >> byteLength;
    if (byteLength < kWordFollows)
        return byteLength;
    WORD wordLength;
    *this >> wordLength;
    if (wordLength == kWideText)
        AfxThrowArchiveException(CArchiveException::genericException, m_stream->GetFilePath());
    if (wordLength < kDwordFollows)
        return wordLength;
    DWORD dwordLength;
    *this >> dwordLength;
    return dwordLength;
}

CArchive& operator<<(CArchive& ar, const CString& text)
{
    ar.WriteStringLength(static_cast<ULONGLONG>(text.GetLength()));
    ar.Write(text.GetString(), static_cast<UINT>(text.GetLength()));
    return ar;
}

CArchive& operator>>(CArchive& ar, CString& text)
{
    ULONGLONG length = ar.ReadStringLength();
    if (length > ar.GetRemainingLength())
        AfxThrowArchiveException(CArchiveException::endOfFile,
                                 ar.GetFile() ? ar.GetFile()->GetFilePath().GetString() : nullptr);
    if (length > static_cast<ULONGLONG>(INT_MAX))
        AfxThrowMemoryException();
    int n = static_cast<int>(length);
    LPSTR buffer = text.GetBufferSetLength(n);
    UINT got = ar.Read(buffer, static_cast<UINT>(n));
    text.ReleaseBuffer(static_cast<int>(got));
    if (got != static_cast<UINT>(n))
        AfxThrowArchiveException(CArchiveException::endOfFile,
                                 ar.GetFile() ? ar.GetFile()->GetFilePath().GetString() : nullptr);
    return ar;
}
