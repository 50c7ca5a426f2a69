// The funsize-diff page in a real browser, for comparisons built from lists
// of functions.
#include <string>

#include "page.h"

namespace {

using pagetest::check_page;
using pagetest::Compared;
using pagetest::page_of;
using pagetest::PageTest;

TEST_F(PageTest, DrawsTwoBuilds) {
    const Compared two({{"src/core/alloc.o", "", "pool_alloc", 4000, 5200},
                        {"src/core/alloc.o", "", "pool_free", 3000, 1800},
                        {"src/core/alloc.o", "", "pool_stats", 1500, 1500},
                        {"src/core/io.o", "", "read_block", 2500, 2500},
                        {"src/core/io.o", "", "write_block", -1, 2200},
                        {"src/core/io.o", "", "legacy_seek", 900, -1},
                        {"lib/libutil.a", "str.o", "str_copy", 1200, 1300},
                        {"lib/libutil.a", "str.o", "str_empty", 0, 0},
                        {"lib/libutil.a", "num.o", "num_parse", 1700, 1600},
                        {"main.o", "", "main", 2000, 2000}});
    check_page("two_builds", page_of(two.comparison), {
        {"text('summary')", "add/remove: 1/1 grow/shrink: 2/2 up/down: +3500/-2200 (+1300)\n"
                            "Total: Before=16800, After=18100, chg +7.74%"},
        // Every function of the new build with a size has a box; the removed
        // and the empty ones have none.
        {"drawn()", "8 functions, 0 smaller boxes of 0 in all"},
        {"hover('pool_alloc')", "grown: pool_alloc / src/core/alloc.o / old 4000  new 5200  delta +1200"},
        {"hover('pool_free')", "shrunk: pool_free / src/core/alloc.o / old 3000  new 1800  delta -1200"},
        {"hover('write_block')", "added: write_block / src/core/io.o / old \u2014  new 2200  delta +2200"},
        {"hover('pool_stats')", "same: pool_stats / src/core/alloc.o / old 1500  new 1500  delta 0"},
        {"hover('str_copy')", "grown: str_copy / lib/libutil.a(str.o) / old 1200  new 1300  delta +100"},
        {"hover('legacy_seek') + hover('str_empty')", "nonenone"},
        {"pixels({pool_alloc: 'grown', pool_free: 'shrunk', write_block: 'added', main: 'same'})", ""},
        // The table lists every function, in the comparison's order until a
        // column is chosen; a number column sorts the largest first.
        {"text('rows-shown') + ' ' + column('name')",
         "rows 1\u201310 of 10 write_block,pool_alloc,pool_free,legacy_seek,num_parse,str_copy,main,pool_stats,read_block,str_empty"},
        {"sortBy('delta'), column('delta') + ' ' + heading('delta').getAttribute('aria-sort')",
         "+2200,+1200,+100,0,0,0,0,-100,-900,-1200 descending"},
        {"sortBy('delta'), column('delta')", "-1200,-900,-100,0,0,0,0,+100,+1200,+2200"},
        {"sortBy('name'), column('name')",
         "legacy_seek,main,num_parse,pool_alloc,pool_free,pool_stats,read_block,str_copy,str_empty,write_block"},
        // The filter matches function and file names, ignoring case.
        {"await filter('BLOCK'), column('name')", "read_block,write_block"},
        {"await filter('libutil'), column('name') + ' / ' + column('file')",
         "num_parse,str_copy,str_empty / lib/libutil.a(num.o),lib/libutil.a(str.o),lib/libutil.a(str.o)"},
        {"await filter('legacy'), document.querySelector('#functions-body tr').className + ' ' + column('new') + ' ' + column('delta')",
         "removed \u2014 -900"},
        {"await filter(''), click('changed-only'), text('rows-shown')", "rows 1\u20136 of 6 (of 10)"},
        {"click('changed-only'), text('rows-shown')", "rows 1\u201310 of 10"},
        // A click on a function zooms into its file; the breadcrumb leads
        // back out one level or all the way.
        {"clickBox('pool_alloc'), zoomed()", "3 functions, 0 smaller boxes of 0 in src/core/alloc.o / all>src>core>alloc.o"},
        {"crumb('core'), zoomed()", "5 functions, 0 smaller boxes of 0 in src/core / all>src>core"},
        {"crumb('all'), zoomed()", "8 functions, 0 smaller boxes of 0 in all / all"},
        {"clickBox('libutil.a', 'group'), zoomed()", "2 functions, 0 smaller boxes of 0 in lib/libutil.a / all>lib>libutil.a"},
    });
}

TEST_F(PageTest, FoldsBoxesSmallerThanAPixelAndPagesTheTable) {
    // One large function beside a file of 3000 one-byte functions: at full
    // view the small ones get less than a pixel each and are drawn as one
    // box; zoomed into their file, each has room of its own.
    std::vector<pagetest::Fn> fns = {{"big/huge.o", "", "huge", 1000000, 1000000}, {"small/s.o", "", "medium", 20000, 20000}};
    for (int i = 0; i < 3000; ++i) fns.push_back({"small/s.o", "", std::string("tiny").append(std::to_string(10000 + i).substr(1)), 1, 1});
    check_page("small_boxes", page_of(Compared(fns).comparison), {
        {"drawn()", "2 functions, 1 smaller boxes of 3000 in all"},
        {"hover('tiny0007')", "none"},
        {"sweep('s.o', 'rest')", "3000 smaller functions / small/s.o / old 3000  new 3000  delta 0"},
        // A hundred rows a page.
        {"click('page-prev'), text('rows-shown') + ' ' + document.getElementById('page-prev').disabled", "rows 1\u2013100 of 3002 true"},
        {"click('page-next'), click('page-next'), click('page-prev'), text('rows-shown') + ' ' + column('name').split(',')[0]",
         "rows 101\u2013200 of 3002 tiny0098"},
        {"await filter('tiny00'), text('rows-shown') + ' ' + document.getElementById('page-next').disabled",
         "rows 1\u2013100 of 100 (of 3002) true"},
        {"clickBox('medium'), drawn()", "3001 functions, 0 smaller boxes of 0 in small/s.o"},
        {"hover('tiny0007')", "same: tiny0007 / small/s.o / old 1  new 1  delta 0"},
    });
    // Zoomed into a file whose small functions stay below a pixel, its
    // "smaller" box opens on them alone, the largest first.
    fns.erase(fns.begin(), fns.begin() + 1);
    fns[0].new_size = fns[0].old_size = 1000000;
    const std::string folded = "1 functions, 1 smaller boxes of 3000 in small/s.o / all>small>s.o";
    check_page("smaller_opened", page_of(Compared(fns).comparison), {
        {"clickBox('s.o', 'group'), zoomed()", folded},
        {"openSmaller(), zoomed()", "3000 functions, 0 smaller boxes of 0 in small/s.o from #2 / all>small>s.o>smaller, from #2"},
        {"hover('tiny0007') + ' / ' + hover('medium')", "same: tiny0007 / small/s.o / old 1  new 1  delta 0 / none"},
        {"crumb('s.o'), zoomed()", folded},
    });
}

TEST_F(PageTest, DrawsComparisonsWithNothingToDraw) {
    const Compared empty{std::vector<pagetest::Fn>{}}, removed({{"a.o", "", "gone", 40, -1}, {"a.o", "", "empty", 0, 0}});
    for (const auto &[name, c, rows] : {std::tuple("empty", &empty, "no rows "), std::tuple("removed_only", &removed, "rows 1\u20132 of 2 gone,empty")})
        check_page(name, page_of(c->comparison), {
            {"drawn()", "0 functions, 0 smaller boxes of 0 in all"},
            {"document.getElementById('map-empty').hidden", "false"},
            {"text('rows-shown') + ' ' + column('name')", rows},
            {"sortBy('delta'), await filter('x'), text('rows-shown')", "no rows"},
        });
}

TEST_F(PageTest, ShowsAnyNameAsText) {
    // A name that would close the data element early, or, after "<!--<script",
    // keep it open past its end, were any '<' written as it is.
    const std::string hostile = "<b id=\"bold\">x</b> & \"q\" 'a' </script><script>document.title='taken'</script><!--<script x";
    const Compared c({{"src/<i>\"dir\"&/a.o", "", hostile, 10, 30},
                      {"b.o", "m&<.o", "bad\xff\xfe utf", -1, 20},
                      // Well-formed UTF-8 is kept; an overlong form, a surrogate
                      // and a code point above U+10FFFF are replaced byte by byte.
                      {"c.o", "", "ok \xc3\xa9\xf0\x9f\x98\x80 no \xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80", 5, 5}});
    check_page("names", page_of(c.comparison), {
        {"column('name')", std::string(hostile).append(",bad\uFFFD\uFFFD utf,ok \u00e9\U0001F600 no \uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD")},
        {"column('file')", "src/<i>\"dir\"&/a.o,b.o(m&<.o),c.o"},
        {"hover(document.querySelector('td.name').textContent)",
         std::string("grown: ").append(hostile).append(" / src/<i>\"dir\"&/a.o / old 10  new 30  delta +20")},
        {"hover('bad\\ufffd\\ufffd utf')", "added: bad\uFFFD\uFFFD utf / b.o(m&<.o) / old \u2014  new 20  delta +20"},
        {"document.title + ' ' + document.querySelectorAll('b, i').length + ' ' + drawn()", "funsize-diff 0 3 functions, 0 smaller boxes of 0 in all"},
        {"clickBox(document.querySelector('td.name').textContent), crumbs()", "all>src><i>\"dir\"&>a.o"},
    });
}

}  // namespace
