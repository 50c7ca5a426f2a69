// The funsize-diff page in a real browser: pages made from short
// descriptions, driven by driver.js in headless Chromium (browser.h).
#include <gtest/gtest.h>

#include <string>

#include "browser.h"
#include "page_input.h"

namespace {

using pagetest::open_page;
using pagetest::page_of;
using pagetest::PageTest;
using pagetest::Seen;

const char *const two_builds = R"(
src/core/alloc.o | - | pool_alloc  | 4000 | 5200
src/core/alloc.o | - | pool_free   | 3000 | 1800
src/core/alloc.o | - | pool_stats  | 1500 | 1500
src/core/io.o    | - | read_block  | 2500 | 2500
src/core/io.o    | - | write_block | -    | 2200
src/core/io.o    | - | legacy_seek | 900  | -
lib/libutil.a    | str.o | str_copy  | 1200 | 1300
lib/libutil.a    | str.o | str_empty | 0    | 0
lib/libutil.a    | num.o | num_parse | 1700 | 1600
main.o           | - | main        | 2000 | 2000
)";

TEST_F(PageTest, DrawsTwoBuilds) {
    const auto compared = pagetest::parse_description(two_builds);
    const fdiff::Comparison &c = compared->comparison;
    const Seen seen = open_page("two_builds", page_of(c), R"(
        report('summary', document.getElementById('summary').textContent);
        report('drawn', drawn());
        for (const name of ['pool_alloc', 'pool_free', 'write_block', 'pool_stats', 'legacy_seek', 'str_empty', 'str_copy'])
          report('tip ' + name, hover(name));
        report('pixel grown', pixelIs('pool_alloc', 'grown'));
        report('pixel shrunk', pixelIs('pool_free', 'shrunk'));
        report('pixel added', pixelIs('write_block', 'added'));
        report('pixel same', pixelIs('main', 'same'));
        report('rows', document.getElementById('rows-shown').textContent);
        report('names', column('name'));
        sortBy('delta');
        report('by delta', column('delta'));
        report('delta head', document.querySelector('th[data-key="delta"]').getAttribute('aria-sort'));
        sortBy('delta');
        report('by delta up', column('delta'));
        sortBy('name');
        report('by name', column('name'));
        await filter('BLOCK');
        report('block', column('name'));
        await filter('libutil');
        report('libutil', column('name') + ' / ' + column('file'));
        await filter('legacy');
        report('removed row', document.querySelector('#functions-body tr').className + ' ' + column('new') + ' ' + column('delta'));
        await filter('');
        report('unfiltered', document.getElementById('rows-shown').textContent);
        document.getElementById('changed-only').click();
        report('changed only', document.getElementById('rows-shown').textContent);
        document.getElementById('changed-only').click();

        clickBox('pool_alloc');
        report('zoom file', drawn() + ' / ' + crumbs());
        crumb('core');
        report('zoom core', drawn() + ' / ' + crumbs());
        crumb('all');
        report('zoom all', drawn() + ' / ' + crumbs());
        clickBox('libutil.a', 'group');
        report('zoom archive', drawn() + ' / ' + crumbs());
    )");

    EXPECT_EQ(seen.at("summary"), fdiff::summary_line(c.summary) + "\n" + fdiff::total_line(c.summary));
    EXPECT_EQ(seen.at("summary"), "add/remove: 1/1 grow/shrink: 2/2 up/down: +3500/-2200 (+1300)\n"
                                  "Total: Before=16800, After=18100, chg +7.74%");
    // Every function of the new build with a size has a box; the removed
    // and the empty ones have none.
    EXPECT_EQ(seen.at("drawn"), "8 functions, 0 smaller boxes of 0 in all");
    EXPECT_EQ(seen.at("tip pool_alloc"), "grown: pool_alloc / src/core/alloc.o / old 4000  new 5200  delta +1200");
    EXPECT_EQ(seen.at("tip pool_free"), "shrunk: pool_free / src/core/alloc.o / old 3000  new 1800  delta -1200");
    EXPECT_EQ(seen.at("tip write_block"), "added: write_block / src/core/io.o / old \u2014  new 2200  delta +2200");
    EXPECT_EQ(seen.at("tip pool_stats"), "same: pool_stats / src/core/alloc.o / old 1500  new 1500  delta 0");
    EXPECT_EQ(seen.at("tip str_copy"), "grown: str_copy / lib/libutil.a(str.o) / old 1200  new 1300  delta +100");
    EXPECT_EQ(seen.at("tip legacy_seek"), "none");
    EXPECT_EQ(seen.at("tip str_empty"), "none");
    for (const char *kind : {"grown", "shrunk", "added", "same"}) EXPECT_EQ(seen.at(std::string("pixel ") + kind), "yes") << kind;

    // The table lists every function, the removed and the empty ones too,
    // in the comparison's order until a column is chosen.
    EXPECT_EQ(seen.at("rows"), "rows 1\u201310 of 10");
    EXPECT_EQ(seen.at("names"), "write_block,pool_alloc,pool_free,legacy_seek,num_parse,str_copy,main,pool_stats,read_block,str_empty");
    EXPECT_EQ(seen.at("by delta"), "+2200,+1200,+100,0,0,0,0,-100,-900,-1200");
    EXPECT_EQ(seen.at("delta head"), "descending");
    EXPECT_EQ(seen.at("by delta up"), "-1200,-900,-100,0,0,0,0,+100,+1200,+2200");
    EXPECT_EQ(seen.at("by name"), "legacy_seek,main,num_parse,pool_alloc,pool_free,pool_stats,read_block,str_copy,str_empty,write_block");
    // The filter matches function and file names, ignoring case, and keeps the order.
    EXPECT_EQ(seen.at("block"), "read_block,write_block");
    EXPECT_EQ(seen.at("libutil"), "num_parse,str_copy,str_empty / lib/libutil.a(num.o),lib/libutil.a(str.o),lib/libutil.a(str.o)");
    EXPECT_EQ(seen.at("removed row"), "removed \u2014 -900");
    EXPECT_EQ(seen.at("unfiltered"), "rows 1\u201310 of 10");
    EXPECT_EQ(seen.at("changed only"), "rows 1\u20136 of 6 (of 10)");

    // A click on a function zooms into its file; the breadcrumb leads back
    // out one level or all the way.
    EXPECT_EQ(seen.at("zoom file"), "3 functions, 0 smaller boxes of 0 in src/core/alloc.o / all>src>core>alloc.o");
    EXPECT_EQ(seen.at("zoom core"), "5 functions, 0 smaller boxes of 0 in src/core / all>src>core");
    EXPECT_EQ(seen.at("zoom all"), "8 functions, 0 smaller boxes of 0 in all / all");
    EXPECT_EQ(seen.at("zoom archive"), "2 functions, 0 smaller boxes of 0 in lib/libutil.a / all>lib>libutil.a");
}

TEST_F(PageTest, DrawsOneBuildAndPagesTheTable) {
    std::string description = "one-side\n";
    for (int i = 0; i < 250; ++i)
        description.append("app/part").append(std::to_string(i % 3)).append(".o | - | f").append(std::to_string(1000 + i))
            .append(" | - | ").append(std::to_string(100 + i)).append("\n");
    const auto compared = pagetest::parse_description(description);
    const fdiff::Comparison &c = compared->comparison;
    const Seen seen = open_page("one_build", page_of(c), R"(
        report('summary', document.getElementById('summary').textContent);
        report('drawn', drawn());
        report('tip', hover('f1249'));
        report('pixel', pixelIs('f1249', 'same'));
        report('heads', Array.from(document.querySelectorAll('#functions-head th'), (th) => th.textContent).join(','));
        report('legend', Array.from(document.querySelectorAll('#legend li'), (li) => li.offsetParent ? li.textContent : '-').join(','));
        report('page 1', document.getElementById('rows-shown').textContent + ' ' + column('name').split(',')[0]);
        document.getElementById('page-next').click();
        report('page 2', document.getElementById('rows-shown').textContent + ' ' + column('name').split(',')[0]);
        document.getElementById('page-next').click();
        report('page 3', document.getElementById('rows-shown').textContent + ' ' + document.getElementById('page-next').disabled);
        document.getElementById('page-prev').click();
        report('back to 2', document.getElementById('rows-shown').textContent);
        await filter('f11');
        report('filtered', document.getElementById('rows-shown').textContent);
    )");
    EXPECT_EQ(seen.at("summary"), fdiff::summary_line(c.summary) + "\n" + fdiff::total_line(c.summary));
    EXPECT_EQ(seen.at("drawn"), "250 functions, 0 smaller boxes of 0 in all");
    // One build: no change to colour or to show.
    EXPECT_EQ(seen.at("tip"), "same: f1249 / app/part0.o / size 349");
    EXPECT_EQ(seen.at("pixel"), "yes");
    EXPECT_EQ(seen.at("heads"), "Function,File,Size");
    EXPECT_EQ(seen.at("legend"), "unchanged,-,-,-,smaller functions, taken together");
    // A hundred rows a page, the largest first.
    EXPECT_EQ(seen.at("page 1"), "rows 1\u2013100 of 250 f1249");
    EXPECT_EQ(seen.at("page 2"), "rows 101\u2013200 of 250 f1149");
    EXPECT_EQ(seen.at("page 3"), "rows 201\u2013250 of 250 true");
    EXPECT_EQ(seen.at("back to 2"), "rows 101\u2013200 of 250");
    EXPECT_EQ(seen.at("filtered"), "rows 1\u2013100 of 100 (of 250)");
}

TEST_F(PageTest, DrawsEmptyAndRemovedOnlyComparisons) {
    const std::string steps = R"(
        report('drawn', drawn());
        report('empty note', document.getElementById('map-empty').hidden ? 'hidden' : 'shown');
        report('rows', document.getElementById('rows-shown').textContent + ' ' + column('name'));
        sortBy('delta');
        await filter('x');
        report('after', document.getElementById('rows-shown').textContent);
    )";
    const Seen empty = open_page("empty", page_of(pagetest::parse_description("")->comparison), steps);
    EXPECT_EQ(empty.at("drawn"), "0 functions, 0 smaller boxes of 0 in all");
    EXPECT_EQ(empty.at("empty note"), "shown");
    EXPECT_EQ(empty.at("rows"), "no rows ");
    EXPECT_EQ(empty.at("after"), "no rows");

    const Seen removed = open_page("removed_only", page_of(pagetest::parse_description("a.o | - | gone | 40 | -\n"
                                                                                       "a.o | - | empty | 0 | 0\n")
                                                                               ->comparison),
                                   steps);
    EXPECT_EQ(removed.at("drawn"), "0 functions, 0 smaller boxes of 0 in all");
    EXPECT_EQ(removed.at("empty note"), "shown");
    EXPECT_EQ(removed.at("rows"), "rows 1\u20132 of 2 gone,empty");
}

TEST_F(PageTest, ShowsAnyNameAsText) {
    const std::string hostile = "<b id=\"bold\">x</b> & \"q\" 'a' </script><script>document.title='taken'</script><!--";
    const std::string description = std::string("src/<i>\"dir\"&/a.o | - | ").append(hostile).append(" | 10 | 30\n")
                                        .append("b.o | m&<.o | bad\xff\xfe utf | - | 20\n")
                                        // Well-formed UTF-8 is kept; an overlong form, a surrogate and a
                                        // code point above U+10FFFF are replaced byte by byte.
                                        .append("c.o | - | ok \xc3\xa9\xf0\x9f\x98\x80 no \xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80 | 5 | 5\n");
    const auto compared = pagetest::parse_description(description);
    const fdiff::Comparison &c = compared->comparison;
    ASSERT_EQ(c.functions[0].name, hostile);
    const std::string page = page_of(c);
    // Nothing of a name can close the data element early.
    EXPECT_EQ(page.find("</script><script>document"), std::string::npos);
    const Seen seen = open_page("names", page, R"(
        const name = document.querySelector('#functions-body td.name').textContent;
        report('cell', name);
        report('names', column('name'));
        report('file', column('file'));
        report('tip', hover(name));
        report('second', hover('bad\ufffd\ufffd utf'));
        report('title', document.title);
        report('elements', document.querySelectorAll('b, i').length);
        report('drawn', drawn());
        clickBox(name);
        report('crumbs', crumbs());
    )");
    EXPECT_EQ(seen.at("cell"), hostile);
    EXPECT_EQ(seen.at("names"), std::string(hostile).append(",bad\uFFFD\uFFFD utf,ok \u00e9\U0001F600 no ")
                                    .append("\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"));
    EXPECT_EQ(seen.at("file"), "src/<i>\"dir\"&/a.o,b.o(m&<.o),c.o");
    EXPECT_EQ(seen.at("tip"), std::string("grown: ").append(hostile).append(" / src/<i>\"dir\"&/a.o / old 10  new 30  delta +20"));
    EXPECT_EQ(seen.at("second"), "added: bad\uFFFD\uFFFD utf / b.o(m&<.o) / old \u2014  new 20  delta +20");
    EXPECT_EQ(seen.at("title"), "funsize-diff");
    EXPECT_EQ(seen.at("elements"), "0");
    EXPECT_EQ(seen.at("drawn"), "3 functions, 0 smaller boxes of 0 in all");
    EXPECT_EQ(seen.at("crumbs"), "all>src><i>\"dir\"&>a.o");
}

TEST_F(PageTest, FoldsBoxesSmallerThanAPixel) {
    // One large function beside a file of 3000 one-byte functions: at full
    // view the small ones get less than a pixel each and are drawn as one
    // box; zoomed into their file, each has room of its own.
    std::string description = "big/huge.o | - | huge | 1000000 | 1000000\n"
                              "small/s.o | - | medium | 20000 | 20000\n";
    for (int i = 0; i < 3000; ++i) description.append("small/s.o | - | tiny").append(std::to_string(i)).append(" | 1 | 1\n");
    const Seen seen = open_page("small_boxes", page_of(pagetest::parse_description(description)->comparison), R"(
        report('drawn', drawn());
        report('tip tiny', hover('tiny7'));
        const medium = funsizePage.boxOf('medium');
        const file = funsizePage.boxOf('s.o', 'group');
        // The rest box sits below or right of the largest box of the file.
        let restTip = 'not found';
        for (let y = file.y + file.h - 2; y > file.y + 14 && restTip === 'not found'; y -= 1)
          for (let x = file.x + file.w - 2; x > file.x; x -= 1) {
            mouse('mousemove', x, y);
            if (!tip.hidden && tip.className === 'rest') { restTip = Array.from(tip.children, (l) => l.textContent).join(' / '); break; }
          }
        report('rest tip', restTip);
        clickBox('medium');
        report('zoomed', drawn());
        report('tip tiny zoomed', hover('tiny7'));
    )");
    EXPECT_EQ(seen.at("drawn"), "2 functions, 1 smaller boxes of 3000 in all");
    EXPECT_EQ(seen.at("tip tiny"), "none");
    EXPECT_EQ(seen.at("rest tip"), "3000 smaller functions / small/s.o / old 3000  new 3000  delta 0");
    EXPECT_EQ(seen.at("zoomed"), "3001 functions, 0 smaller boxes of 0 in small/s.o");
    EXPECT_EQ(seen.at("tip tiny zoomed"), "same: tiny7 / small/s.o / old 1  new 1  delta 0");
}

}  // namespace
