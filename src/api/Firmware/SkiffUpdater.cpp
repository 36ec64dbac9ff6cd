#include "api/Firmware/SkiffUpdater.hpp"

namespace qz {

Result<std::vector<FirmwareBlock>, FirmwareUpdateError> SkiffUpdater::makeBlocks(const Data& image,
                                                                                 size_t blockSize) {
    if (image.empty() || image.size() % kFrameSize != 0 ||
        image[image.size() - kFrameSize] != kLastFrame)
        return std::unexpected(FirmwareUpdateError::malformedPayload);
    if (blockSize < kFrameSize || blockSize % kFrameSize != 0)
        return std::unexpected(FirmwareUpdateError::setupFailed);
    std::vector<FirmwareBlock> blocks;
    for (size_t at = 0; at < image.size(); at += blockSize) {
        size_t end = std::min(image.size(), at + blockSize);
        FirmwareBlock block{Data(image.begin() + at, image.begin() + end), 0};
        for (size_t f = at; f < end; f += kFrameSize) {
            if (image[f] == kHeaderFrame) ++block.acksExpected;
            // Only the image's last frame may end it: an earlier 0x04 frame would reboot the
            // sensor half-way.
            if (image[f] == kLastFrame && f + kFrameSize != image.size())
                return std::unexpected(FirmwareUpdateError::malformedPayload);
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

}  // namespace qz
