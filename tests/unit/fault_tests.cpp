// Every acquire step of every entry made to fail in turn, over every seed
// picture: the answer is a failure code, nothing stays held, and a memory
// image comes back as it was.
#include <cstring>

#include "common/files.h"
#include "standin/standin.h"
#include "unit/helpers.h"

namespace {

const standin::Op kOps[] = {standin::kLocalAlloc, standin::kLocalLock,   standin::kCreateFile,
                            standin::kGetFileSize, standin::kSetFilePointer, standin::kReadFile,
                            standin::kReadFileShort};

// The entries as one call each, over the picture's file or its memory image.
enum Entry { kInfoFile, kInfoMemory, kPictureFile, kPictureMemory, kSupportedHandle, kEntryCount };
const char* const kEntryNames[] = {"GetPictureInfo(file)", "GetPictureInfo(memory)", "GetPicture(file)",
                                   "GetPicture(memory)", "IsSupported(handle)"};

// Calls entry once; returns its answer. Blocks handed out are freed.
int Call(Entry entry, const std::string& path, std::vector<uint8_t>* image) {
  PictureInfo info;
  HLOCAL infoHandle = nullptr, bitsHandle = nullptr;
  char* name = const_cast<char*>(path.c_str());
  char* bytes = reinterpret_cast<char*>(image->data());
  int32_t length = static_cast<int32_t>(image->size());
  int answer = -99;
  switch (entry) {
    case kInfoFile: answer = GetPictureInfo(name, 0, 0, &info); break;
    case kInfoMemory: answer = GetPictureInfo(bytes, length, 1, &info); break;
    case kPictureFile: answer = GetPicture(name, 0, 0, &infoHandle, &bitsHandle, nullptr, 0); break;
    case kPictureMemory: answer = GetPicture(bytes, length, 1, &infoHandle, &bitsHandle, nullptr, 0); break;
    case kSupportedHandle: {
      HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      if (file == INVALID_HANDLE_VALUE) return -98;
      answer = IsSupported(nullptr, reinterpret_cast<ULONG_PTR>(file));
      CloseHandle(file);
      break;
    }
    default: break;
  }
  if (answer == kResultSuccess && (entry == kPictureFile || entry == kPictureMemory)) {
    LocalFree(infoHandle);
    LocalFree(bitsHandle);
  }
  return answer;
}

class FaultInjection : public PluginTest {};

TEST_F(FaultInjection, EveryFailurePointOverTheSeedPictures) {
  std::vector<std::string> seeds = FilesIn(std::string(TAVKO_SOURCE_DIR) + "/fuzz/seeds");
  ASSERT_GT(seeds.size(), 50u);
  long points = 0, leaks = 0;
  for (const std::string& path : seeds) {
    std::vector<uint8_t> image = ReadFileBytes(path), before = image;
    for (int e = 0; e < kEntryCount; ++e) {
      Entry entry = static_cast<Entry>(e);
      standin::Reset();
      int normal = Call(entry, path, &image);
      int calls[standin::kOpCount];
      for (standin::Op op : kOps) calls[op] = standin::Calls(op);
      for (standin::Op op : kOps) {
        // The IsSupported test opens the file itself: its own open is not the entry's.
        int first = entry == kSupportedHandle && op == standin::kCreateFile ? calls[op] + 1 : 1;
        for (int nth = first; nth <= calls[op]; ++nth) {
          standin::Reset();
          standin::FailNth(op, nth);
          int answer = Call(entry, path, &image);
          ++points;
          SCOPED_TRACE(path + " " + kEntryNames[e] + " op " + std::to_string(op) + " call " + std::to_string(nth));
          if (entry == kSupportedHandle) {
            // Recognition does not count what a read delivered: a short read
            // leaves zeros, which may still pass.
            if (op != standin::kReadFileShort) EXPECT_EQ(answer, 0);
          } else {
            // A failed step never passes for success, unless the picture was
            // refused before reaching it.
            EXPECT_TRUE(answer == kResultNoMemory || answer == kResultLockFailed || answer == kResultFileError ||
                        (answer == normal && normal != kResultSuccess))
                << "answer " << answer << ", normally " << normal;
          }
          if (standin::LiveBlocks() != 0 || standin::OpenFiles() != 0 || standin::LockedBlocks() != 0) {
            ++leaks;
            ADD_FAILURE() << "held after the call: blocks " << standin::LiveBlocks() << ", files "
                          << standin::OpenFiles();
          }
          ASSERT_EQ(image, before) << "memory image changed";
        }
      }
    }
  }
  std::printf("fault injection: %ld failure points over %zu pictures, %ld leaks\n", points, seeds.size(), leaks);
  RecordProperty("failure_points", static_cast<int>(points));
  EXPECT_GT(points, 1000);
}

}  // namespace
