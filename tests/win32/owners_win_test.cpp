// Every owner of src/win32/owners_win.h, once each: it holds its object,
// hands it over on a move and gives it back to the system when it goes.

#include "win32/owners_win.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace kantiq {
namespace {

bool isOpen(HANDLE h) {
  DWORD flags = 0;
  return ::GetHandleInformation(h, &flags) != FALSE;
}

TEST(UniqueHandle, ClosesOnceWhenTheLastOwnerGoes) {
  HANDLE raw = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    UniqueHandle first(raw);
    UniqueHandle second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.get(), raw);
    UniqueHandle third;
    third = std::move(second);
    EXPECT_TRUE(isOpen(raw));
  }
  EXPECT_FALSE(isOpen(raw));
  // The value some calls return for failure owns nothing.
  EXPECT_FALSE(UniqueHandle(INVALID_HANDLE_VALUE));
}

TEST(UniqueHandle, MoveAssignmentClosesWhatItHeld) {
  HANDLE a = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE b = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  UniqueHandle holder(a);
  holder = UniqueHandle(b);
  EXPECT_FALSE(isOpen(a));
  EXPECT_TRUE(isOpen(b));
}

TEST(UniqueHandle, ResetReleaseAndCloseSayWhatHappened) {
  HANDLE a = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE b = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  UniqueHandle holder(a);
  holder.reset(b);
  EXPECT_FALSE(isOpen(a));
  EXPECT_EQ(holder.get(), b);

  // Handed over: the owner is empty and the handle stays open.
  const HANDLE taken = holder.release();
  EXPECT_EQ(taken, b);
  EXPECT_FALSE(holder.valid());
  EXPECT_TRUE(isOpen(b));

  holder.reset(taken);
  EXPECT_TRUE(holder.close());
  EXPECT_FALSE(isOpen(b));
  EXPECT_EQ(holder.get(), nullptr);
  EXPECT_TRUE(holder.close());  // nothing left to close
  // A failed open's INVALID_HANDLE_VALUE reads as null, never as a handle.
  holder.reset(INVALID_HANDLE_VALUE);
  EXPECT_EQ(holder.get(), nullptr);
}

struct LockedRoom {
  CriticalSection lock;
  UniqueHandle entered{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

DWORD WINAPI enterRoom(void* room) {
  auto* r = static_cast<LockedRoom*>(room);
  ScopedLock mine(r->lock);
  ::SetEvent(r->entered.get());
  return 0;
}

TEST(CriticalSectionTest, ScopedLockKeepsOtherThreadsOutAndLetsTheHolderIn) {
  LockedRoom shared;
  ASSERT_TRUE(shared.entered);
  UniqueHandle thread;
  {
    ScopedLock held(shared.lock);
    {
      ScopedLock again(shared.lock);  // the holding thread may enter again
    }
    thread.reset(::CreateThread(nullptr, 0, enterRoom, &shared, 0, nullptr));
    ASSERT_TRUE(thread);
    EXPECT_EQ(::WaitForSingleObject(shared.entered.get(), 200), static_cast<DWORD>(WAIT_TIMEOUT));
  }
  // Released at the end of the scope, twice entered and twice left.
  EXPECT_EQ(::WaitForSingleObject(shared.entered.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(::WaitForSingleObject(thread.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST(UniqueFindHandleTest, AFailedSearchOwnsNothingAndAMovedOneGoesOn) {
  WIN32_FIND_DATAA found{};
  EXPECT_FALSE(UniqueFindHandle(::FindFirstFileA("C:\\no such folder\\*", &found)));

  char folder[MAX_PATH] = {};
  ASSERT_GT(::GetSystemDirectoryA(folder, MAX_PATH), 0u);
  UniqueFindHandle search(::FindFirstFileA((std::string(folder) + "\\*").c_str(), &found));
  ASSERT_TRUE(search);
  UniqueFindHandle moved(std::move(search));
  EXPECT_FALSE(search);
  EXPECT_TRUE(::FindNextFileA(moved.get(), &found));
  EXPECT_TRUE(moved.close());
}

TEST(UniqueMemoryTest, GlobalAndLocalMemoryAreFreedWithTheirOwner) {
  HGLOBAL global = ::GlobalAlloc(GMEM_MOVEABLE, 16);
  HLOCAL local = ::LocalAlloc(LMEM_MOVEABLE, 16);
  ASSERT_NE(global, nullptr);
  ASSERT_NE(local, nullptr);
  {
    UniqueGlobalMemory ownedGlobal(global);
    UniqueLocalMemory ownedLocal(local);
    UniqueGlobalMemory movedGlobal(std::move(ownedGlobal));
    UniqueLocalMemory movedLocal(std::move(ownedLocal));
    EXPECT_FALSE(ownedGlobal);
    EXPECT_FALSE(ownedLocal);
    EXPECT_EQ(::GlobalFlags(global) & GMEM_INVALID_HANDLE, 0u);
    EXPECT_EQ(::LocalFlags(local) & LMEM_INVALID_HANDLE, 0u);
  }
  EXPECT_NE(::GlobalFlags(global) & GMEM_INVALID_HANDLE, 0u);
  EXPECT_NE(::LocalFlags(local) & LMEM_INVALID_HANDLE, 0u);
}

TEST(UniqueGdiObjectTest, APenIsDeletedWithItsLastOwner) {
  HPEN raw = ::CreatePen(PS_SOLID, 0, RGB(1, 2, 3));
  ASSERT_NE(raw, nullptr);
  {
    UniqueGdiObject<HPEN> pen(raw);
    UniqueGdiObject<HPEN> other;
    other = std::move(pen);
    EXPECT_FALSE(pen);
    EXPECT_EQ(::GetObjectType(raw), static_cast<DWORD>(OBJ_PEN));
  }
  EXPECT_EQ(::GetObjectType(raw), 0u);
}

TEST(UniqueMemoryDcTest, TheContextIsDeletedWithItsOwner) {
  HDC raw = ::CreateCompatibleDC(nullptr);
  ASSERT_NE(raw, nullptr);
  {
    UniqueMemoryDc dc(raw);
    UniqueMemoryDc moved(std::move(dc));
    EXPECT_FALSE(dc);
    EXPECT_EQ(::GetObjectType(raw), static_cast<DWORD>(OBJ_MEMDC));
  }
  EXPECT_EQ(::GetObjectType(raw), 0u);
}

TEST(UniqueEnhMetaFileTest, TheMetafileIsDeletedWithItsOwner) {
  HENHMETAFILE raw = ::CloseEnhMetaFile(::CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr));
  ASSERT_NE(raw, nullptr);
  {
    UniqueEnhMetaFile picture(raw);
    UniqueEnhMetaFile moved(std::move(picture));
    EXPECT_FALSE(picture);
    EXPECT_GT(::GetEnhMetaFileHeader(raw, 0, nullptr), 0u);
  }
  EXPECT_EQ(::GetEnhMetaFileHeader(raw, 0, nullptr), 0u);
}

// A window of its own for the device-context owners.
class TestWindow {
 public:
  TestWindow()
      : window_(::CreateWindowExA(0, "STATIC", "owners", WS_POPUP, 0, 0, 40, 30, nullptr, nullptr, nullptr,
                                  nullptr)) {}
  ~TestWindow() {
    if (window_ != nullptr) ::DestroyWindow(window_);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_;
};

TEST(WindowDcTest, TheContextGoesBackToTheWindowItCameFrom) {
  TestWindow window;
  ASSERT_NE(window.get(), nullptr);
  HDC raw = nullptr;
  {
    WindowDc dc(window.get());
    raw = dc.get();
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(::WindowFromDC(raw), window.get());
    WindowDc moved(std::move(dc));
    EXPECT_EQ(dc.get(), nullptr);
    EXPECT_EQ(moved.get(), raw);
    EXPECT_EQ(moved.window(), window.get());
    EXPECT_EQ(::WindowFromDC(raw), window.get());  // the move gave nothing back
  }
  // Given back: the context belongs to no window any more.
  EXPECT_EQ(::WindowFromDC(raw), nullptr);
}

TEST(SelectedObjectTest, TheReplacedObjectIsPutBackOnce) {
  UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
  ASSERT_TRUE(dc);
  const HGDIOBJ original = ::GetCurrentObject(dc.get(), OBJ_PEN);
  UniqueGdiObject<HPEN> red(::CreatePen(PS_SOLID, 0, RGB(255, 0, 0)));
  UniqueGdiObject<HPEN> blue(::CreatePen(PS_SOLID, 0, RGB(0, 0, 255)));
  ASSERT_TRUE(red);
  ASSERT_TRUE(blue);
  {
    SelectedObject first(dc.get(), red.get());
    EXPECT_EQ(::GetCurrentObject(dc.get(), OBJ_PEN), red.get());
    {
      SelectedObject moved(std::move(first));
      SelectedObject second(dc.get(), blue.get());
      EXPECT_EQ(::GetCurrentObject(dc.get(), OBJ_PEN), blue.get());
    }
    // second put red back, then moved put the original back; first has
    // nothing left to put back.
    EXPECT_EQ(::GetCurrentObject(dc.get(), OBJ_PEN), original);
    ::SelectObject(dc.get(), blue.get());
  }
  EXPECT_EQ(::GetCurrentObject(dc.get(), OBJ_PEN), blue.get());
  ::SelectObject(dc.get(), original);
}

TEST(UniqueMappedViewTest, TheViewIsUnmappedWithItsLastOwner) {
  const UniqueHandle mapping(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr));
  ASSERT_TRUE(mapping);
  void* raw = ::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 4096);
  ASSERT_NE(raw, nullptr);
  MEMORY_BASIC_INFORMATION info{};
  {
    UniqueMappedView view(raw);
    UniqueMappedView moved(std::move(view));
    EXPECT_FALSE(view);
    static_cast<char*>(moved.get())[0] = 'K';
    ASSERT_NE(::VirtualQuery(raw, &info, sizeof info), 0u);
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
  }
  ASSERT_NE(::VirtualQuery(raw, &info, sizeof info), 0u);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
}

TEST(UniqueWindowTest, TheWindowIsDestroyedWithItsLastOwner) {
  HWND raw = ::CreateWindowExA(0, "STATIC", "owners", WS_POPUP, 0, 0, 40, 30, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    UniqueWindow window(raw);
    UniqueWindow moved(std::move(window));
    EXPECT_FALSE(window);
    EXPECT_TRUE(::IsWindow(raw));
  }
  EXPECT_FALSE(::IsWindow(raw));
}

}  // namespace
}  // namespace kantiq
