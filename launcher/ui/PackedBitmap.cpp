#include "PackedBitmap.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace velmoor {
namespace {

constexpr std::uint32_t kLargestBitmap = 4u << 20;

std::vector<unsigned char> unpack(HINSTANCE instance, int id) {
    HRSRC found = ::FindResourceW(instance, MAKEINTRESOURCEW(id), RT_RCDATA);
    if (!found) return {};
    const DWORD packedSize = ::SizeofResource(instance, found);
    HGLOBAL loaded = ::LoadResource(instance, found);
    const auto* packed =
        loaded ? static_cast<const unsigned char*>(::LockResource(loaded)) : nullptr;
    if (!packed || packedSize <= 4) return {};
    const std::uint32_t size =
        packed[0] | packed[1] << 8 | packed[2] << 16 | static_cast<std::uint32_t>(packed[3]) << 24;
    if (size > kLargestBitmap) return {};
    std::vector<unsigned char> bytes(size);
    uLongf unpacked = size;
    if (::uncompress(bytes.data(), &unpacked, packed + 4, packedSize - 4) != Z_OK ||
        unpacked != size) {
        return {};
    }
    return bytes;
}

}  // namespace

BitmapHandle loadPackedBitmap(HINSTANCE instance, int id) {
    const std::vector<unsigned char> file = unpack(instance, id);
    BITMAPFILEHEADER header{};
    BITMAPINFOHEADER info{};
    if (file.size() < sizeof header + sizeof info) return {};
    std::memcpy(&header, file.data(), sizeof header);
    std::memcpy(&info, file.data() + sizeof header, sizeof info);
    // The pixels must lie inside the file, after the header and its palette.
    if (header.bfType != 0x4D42 || info.biSize < sizeof info || header.bfOffBits >= file.size() ||
        header.bfOffBits < sizeof header + info.biSize) {
        return {};
    }
    const std::size_t colours = info.biClrUsed != 0    ? info.biClrUsed
                                : info.biBitCount <= 8 ? 1u << info.biBitCount
                                                       : 0;
    if (info.biClrUsed > 256 || sizeof header + info.biSize + 4 * colours > header.bfOffBits) {
        return {};
    }
    if (info.biSizeImage != 0 && info.biSizeImage > file.size() - header.bfOffBits) return {};
    const auto* bitmapInfo = reinterpret_cast<const BITMAPINFO*>(file.data() + sizeof header);
    // A bitmap like the screen's, as LoadImage would have made from a BITMAP resource.
    const WindowDc screen(nullptr);
    return BitmapHandle(::CreateDIBitmap(
        screen.get(), &info, CBM_INIT, file.data() + header.bfOffBits, bitmapInfo, DIB_RGB_COLORS));
}

namespace {

SIZE bitmapSize(const BitmapHandle& bitmap) {
    BITMAP header{};
    if (!bitmap || !::GetObjectW(bitmap.get(), sizeof header, &header)) return {};
    return {header.bmWidth, header.bmHeight};
}

}  // namespace

void SplashLogo::load(HINSTANCE instance, int smallId, int largeId) {
    small_ = loadPackedBitmap(instance, smallId);
    smallSize_ = bitmapSize(small_);
    large_ = loadPackedBitmap(instance, largeId);
    largeSize_ = bitmapSize(large_);
}

void SplashLogo::draw(HDC dc, const RECT& at) const {
    const SIZE size{at.right - at.left, at.bottom - at.top};
    const bool large = large_ && (size.cx > smallSize_.cx || size.cy > smallSize_.cy);
    const HBITMAP image = large ? large_.get() : small_.get();
    const SIZE imageSize = large ? largeSize_ : smallSize_;
    if (!image) return;
    const MemoryDc logoDc(::CreateCompatibleDC(dc));
    const SelectedObject logo(logoDc.get(), image);
    if (size.cx == imageSize.cx && size.cy == imageSize.cy) {
        ::BitBlt(dc, at.left, at.top, size.cx, size.cy, logoDc.get(), 0, 0, SRCCOPY);
        return;
    }
    // Averaged rather than sampled, so that a shrunk ring keeps its smooth edge.
    ::SetStretchBltMode(dc, HALFTONE);
    ::SetBrushOrgEx(dc, 0, 0, nullptr);
    ::StretchBlt(dc, at.left, at.top, size.cx, size.cy, logoDc.get(), 0, 0, imageSize.cx,
                 imageSize.cy, SRCCOPY);
}

}  // namespace velmoor
