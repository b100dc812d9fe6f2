#pragma once
// The page store: a file header followed by one record per page, each linked forwards to the next
// record and backwards to its own start, kept in a TRpStream. A saved report file is the store's
// stream byte for byte, so the layout below is what other programs exchange with us:
//
//   header, 128 bytes: u16 3, u16 305, 4 reserved, i32 page count, 4 reserved, f64 date (days since
//   30.12.1899), 1 reserved, u8 compressed, 102 reserved
//   record of page n at R: i32 n, i32 offset of the next record, page data, i32 R
//   page data: the metafile as it stores itself, or i32 L then the splay code of its L bytes.
#include <QByteArray>
#include <QDateTime>
#include <QRect>
#include <QString>
#include <memory>
#include <mutex>

class TRpStream;
class QPainter;
class QRectF;

// One recorded page: the bytes of an enhanced metafile whose header has been checked.
class TRpPageImage {
public:
    // Throws ERpError when the bytes do not start with a metafile header whose size matches, or
    // when the header describes no sheet of paper drawn on a screen.
    explicit TRpPageImage(QByteArray bytes);

    const QByteArray& Bytes() const { return bytes_; }
    // The page in hundredths of a millimetre, as the metafile's frame gives it (inclusive edges).
    QRect FrameHundredthsMm() const { return frame_; }
    // Size in pixels of a device with the given resolution.
    int Width(double pixelsPerInch) const;
    int Height(double pixelsPerInch) const;
    // Plays the page with its frame scaled onto target. A malformed record, or a page that costs
    // more than workLimit (at most a page's bound, see EmfPlayer), raises EmfError. Returns the
    // work the page cost.
    double Play(QPainter& painter, const QRectF& target, double workLimit = -1) const;

private:
    QByteArray bytes_;
    QRect frame_;
};

struct TRpFileHeader {
    static constexpr int kSize = 128;
    int pageCount = 0;
    bool compressed = false;
    double date = 0; // days since 30 December 1899, local time
    quint16 word0 = 3;
    quint16 word1 = 305;

    QByteArray encode() const;
    // Throws ERpError when fewer than 128 bytes are given.
    static TRpFileHeader decode(const QByteArray& bytes);
    static double dateFromQt(const QDateTime& local);
    static QDateTime dateToQt(double days);
};

// Where one record lies; filled in by the structure check of a loaded file.
struct TRpRecordInfo {
    int page = 0;
    qint64 start = 0;
    qint64 next = 0;
    qint64 dataSize() const { return next - start - 12; }
};

class TRpPageList {
public:
    // Largest page image we accept, decoded; a hostile count must not make us allocate gigabytes.
    static constexpr qint64 kMaxPageBytes = 256LL * 1024 * 1024;
    // The store's offsets are 32-bit: its pages end within 2 GB.
    static constexpr qint64 kMaxStoreBytes = 0x7fffffffLL;

    TRpPageList();
    ~TRpPageList();
    TRpPageList(const TRpPageList&) = delete;
    TRpPageList& operator=(const TRpPageList&) = delete;

    // Starts an empty store on the stream; page records will be written compressed or not.
    void Start(std::unique_ptr<TRpStream> stream, bool compressed);
    // Makes the report file the store. The structure (header, every record's links and page
    // header) is checked first; a broken file throws ERpError naming the file, the page and the
    // offset, and leaves this store as it was.
    void LoadFromFile(const QString& fileName);
    // Takes over the other store's stream and pages; the other is left empty.
    void Adopt(TRpPageList& other);
    // Copies the whole stream to the file, in 10,240-byte blocks. Throws ERpError.
    void SaveToFile(const QString& fileName);

    // Appends a page. Throws ERpError when there is no stream or the stream cannot be written.
    void AddPage(const QByteArray& metafile);
    // Page n, or none when n is outside 1..PageCount(). Throws ERpError when the stored page is
    // damaged (bad links, a compressed count that lies, bytes that are no metafile).
    std::unique_ptr<TRpPageImage> GetPage(int n);
    // Positions the stream at the start of page n's record, walking the links from where it stands.
    void SeekToPage(int n);

    // Writes the header, with the current page count, at offset 0.
    void WriteHeader();
    // Forgets the pages (the stream stays).
    void ResetPageCount();
    // Gives up the stream (deleting a temporary file) and forgets the pages.
    void ReleaseStream();

    int PageCount() const
    {
        std::lock_guard guard(lock_);
        return pageCount_;
    }
    bool Compressed() const { return compressed_; }
    void SetCompressed(bool compressed) { compressed_ = compressed; }
    TRpStream* Stream() const { return stream_.get(); }

    // Reads the header and checks every record of a stream. Returns the records of the pages the
    // header counts. Throws ERpError with what is wrong where; `what` names the stream in messages.
    static std::vector<TRpRecordInfo> checkStructure(TRpStream& stream, const QString& what,
                                                     TRpFileHeader* headerOut = nullptr);

private:
    void seekToPage(int n);
    qint64 readI32At(qint64 offset, const char* field, int page);
    qint32 readI32(const char* field, int page);
    [[noreturn]] void fail(const QString& what) const;

    mutable std::mutex lock_;
    std::unique_ptr<TRpStream> stream_;
    int pageCount_ = 0;
    bool compressed_ = false;
    // Start of the last record. The last 4 bytes of a well-formed store say the same; keeping it
    // here makes a file with bytes after its counted pages (an aborted document) still readable.
    qint64 lastRecord_ = 0;
    QString name_;
};
