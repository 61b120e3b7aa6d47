// The kept pages come back byte for byte, from a temporary copy or from the
// document's own file, mapped or read.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "filter/psconv/page-store.h"

namespace {

std::string Copy(const page_store_t& store, size_t i) {
  std::string got;
  store.copy(i, [&](const char* p, size_t n) { got.append(p, n); });
  return got;
}

TEST(PageStore, PagesComeBackWhole) {
  // Three pages with a gap (a page left out) between the second and third.
  const std::string before = "header\n", p1 = "page one\n", p2(20000, 'x'), gap = "skipped\n",
                    p3("three\0\n", 7);
  for (bool from_source : {false, true}) {
    for (bool mapped : {false, true}) {
      SCOPED_TRACE(testing::Message() << (from_source ? "document file" : "temporary copy")
                                      << (mapped ? ", mapped" : ", read"));
      page_store_t store;
      FILE* doc = std::tmpfile();
      ASSERT_NE(doc, nullptr);
      const std::string all = before + p1 + p2 + gap + p3;
      std::fwrite(all.data(), 1, all.size(), doc);
      std::fflush(doc);
      std::rewind(doc);
      if (from_source) {
        ASSERT_TRUE(store.use_source(doc));
      } else {
        ASSERT_TRUE(store.open_temp());
      }
      // As the reader goes: `consumed` counts the document's bytes.
      long consumed = long(before.size());
      for (const std::string* page : {&p1, &p2, &p3}) {
        if (page == &p3) consumed += long(gap.size());
        store.open_span(store.position(consumed));
        store.put(page->data(), page->size());
        consumed += long(page->size());
        store.close_span(store.position(consumed));
      }
      if (mapped) {
        ASSERT_TRUE(store.map_all());
      } else if (store.fp) {
        std::fflush(store.fp);
      }
      EXPECT_EQ(Copy(store, 0), p1);
      EXPECT_EQ(Copy(store, 1), p2);
      EXPECT_EQ(Copy(store, 2), p3);
      std::fclose(doc);
    }
  }
}

}  // namespace
