// zanst-cli's command line: every subcommand parsed into its arguments, every kind of bad input
// refused with one line, the help texts made from the same table.

#include "cli/command_line.hpp"
#include "cli/exit_codes.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>

namespace zanst::cli {
namespace {

ParseResult parse(std::vector<std::string> args) {
    return parseCommandLine(args, "9.8.7");
}

template <typename Args> Args argsOf(const std::vector<std::string>& argv) {
    const ParseResult r = parse(argv);
    if (const auto* e = std::get_if<UsageError>(&r)) {
        ADD_FAILURE() << e->message;
        return {};
    }
    const auto* inv = std::get_if<Invocation>(&r);
    if (inv == nullptr || !std::holds_alternative<Args>(inv->args)) {
        ADD_FAILURE() << "not the expected subcommand";
        return {};
    }
    return std::get<Args>(inv->args);
}

TEST(CliCommandLine, ParsesEverySubcommand) {
    struct Case {
        std::vector<std::string> argv;
        std::function<void(const std::vector<std::string>&)> check;
    };
    const std::vector<Case> cases = {
        {{"scan", "--port", "/dev/ttyUSB0"},
         [](auto& a) {
             const auto s = argsOf<ScanArgs>(a);
             EXPECT_EQ(s.port, "/dev/ttyUSB0");
             EXPECT_EQ(s.format, OutputFormat::Table);
         }},
        {{"scan", "--json", "--port=/dev/pts/3"},
         [](auto& a) {
             const auto s = argsOf<ScanArgs>(a);
             EXPECT_EQ(s.port, "/dev/pts/3");
             EXPECT_EQ(s.format, OutputFormat::Json);
         }},
        {{"watch", "--port", "p", "--seconds", "5", "--interval", "250", "--csv"},
         [](auto& a) {
             const auto w = argsOf<WatchArgs>(a);
             EXPECT_EQ(w.seconds, 5);
             EXPECT_EQ(w.intervalMs, 250);
             EXPECT_EQ(w.format, OutputFormat::Csv);
         }},
        {{"watch", "--port", "p"},
         [](auto& a) {
             const auto w = argsOf<WatchArgs>(a);
             EXPECT_FALSE(w.seconds.has_value());
             EXPECT_EQ(w.intervalMs, 1000);
         }},
        {{"flash", "fw.hex", "--port", "p", "--force"},
         [](auto& a) {
             const auto f = argsOf<FlashArgs>(a);
             EXPECT_EQ(f.file, "fw.hex");
             EXPECT_EQ(f.port, "p");
             EXPECT_TRUE(f.force);
         }},
        {{"metrics", "--port", "p", "--out", "/tmp/m"},
         [](auto& a) { EXPECT_EQ(argsOf<MetricsArgs>(a).outDir, "/tmp/m"); }},
        {{"metrics", "--port", "p"},
         [](auto& a) { EXPECT_FALSE(argsOf<MetricsArgs>(a).outDir.has_value()); }},
        {{"check", "--port", "p", "--cells", "16", "--min-mv", "3000", "--max-mv", "3600", "--max-spread-mv",
          "20", "--max-temp", "45.5", "--max-crc-errors", "0", "--seconds", "3", "--junit", "r.xml"},
         [](auto& a) {
             const auto c = argsOf<CheckArgs>(a);
             EXPECT_EQ(c.cells, 16);
             EXPECT_EQ(c.minMv, 3000);
             EXPECT_EQ(c.maxMv, 3600);
             EXPECT_EQ(c.maxSpreadMv, 20);
             EXPECT_EQ(c.maxTempTenths, 455);
             EXPECT_EQ(c.maxCrcErrors, 0u);
             EXPECT_EQ(c.seconds, 3);
             EXPECT_EQ(c.junit, "r.xml");
         }},
        {{"check", "--port", "p", "--cells", "4", "--max-temp", "-5"},
         [](auto& a) {
             const auto c = argsOf<CheckArgs>(a);
             EXPECT_EQ(c.maxTempTenths, -50);
             EXPECT_EQ(c.seconds, 10);
             EXPECT_FALSE(c.minMv.has_value());
             EXPECT_FALSE(c.junit.has_value());
         }},
        {{"sniff", "--port", "p", "--capture", "c.zcap", "--seconds", "10"},
         [](auto& a) {
             const auto s = argsOf<SniffArgs>(a);
             EXPECT_EQ(s.capture, "c.zcap");
             EXPECT_EQ(s.seconds, 10);
         }},
        {{"emulate", "--port", "p", "--from", "site.zcap"},
         [](auto& a) {
             const auto e = argsOf<EmulateArgs>(a);
             EXPECT_EQ(e.from, "site.zcap");
             EXPECT_EQ(e.speed, 1);
             EXPECT_FALSE(e.loop);
             EXPECT_TRUE(e.edits.empty());
             EXPECT_FALSE(e.seconds.has_value());
         }},
        {{"emulate", "--port", "p", "--from", "r.csv", "--speed", "10", "--loop", "--seconds", "60", "--edit",
          "cell 5 drifts 2 mV a second lower from 00:03:10;  cell 1 pinned at 3000 mV from 00:00:02 ;"},
         [](auto& a) {
             const auto e = argsOf<EmulateArgs>(a);
             EXPECT_EQ(e.speed, 10);
             EXPECT_TRUE(e.loop);
             EXPECT_EQ(e.seconds, 60);
             EXPECT_EQ(e.edits, (std::vector<std::string>{"cell 5 drifts 2 mV a second lower from 00:03:10",
                                                          "cell 1 pinned at 3000 mV from 00:00:02"}));
         }},
        {{"export", "in.zcap", "--pcapng", "out.pcapng"},
         [](auto& a) {
             const auto e = argsOf<ExportArgs>(a);
             EXPECT_EQ(e.capture, "in.zcap");
             EXPECT_EQ(e.pcapng, "out.pcapng");
         }},
        {{"export", "--pcapng", "out", "--", "-odd.zcap"},
         [](auto& a) { EXPECT_EQ(argsOf<ExportArgs>(a).capture, "-odd.zcap"); }},
        {{"visits"},
         [](auto& a) {
             const auto v = argsOf<VisitsArgs>(a);
             EXPECT_FALSE(v.serviceDb || v.site || v.serial || v.limit || v.json);
         }},
        {{"visits", "--json", "--site", "harbour", "--serial", "ZB1", "--limit", "5", "--service-db",
          "postgresql://tech@db/zanst"},
         [](auto& a) {
             const auto v = argsOf<VisitsArgs>(a);
             EXPECT_TRUE(v.json);
             EXPECT_EQ(v.site, "harbour");
             EXPECT_EQ(v.serial, "ZB1");
             EXPECT_EQ(v.limit, 5);
             EXPECT_EQ(v.serviceDb, "postgresql://tech@db/zanst");
         }},
        {{"report", "0b6f1c", "--pdf", "r.pdf"},
         [](auto& a) {
             const auto r = argsOf<ReportArgs>(a);
             EXPECT_EQ(r.visit, "0b6f1c");
             EXPECT_EQ(r.pdf, "r.pdf");
             EXPECT_FALSE(r.json.has_value());
         }},
        {{"report", "--json", "r.json", "0b6f1c", "--service-db=sqlite:///tmp/l.sqlite"},
         [](auto& a) {
             const auto r = argsOf<ReportArgs>(a);
             EXPECT_EQ(r.json, "r.json") << "--json takes a file here";
             EXPECT_FALSE(r.pdf.has_value());
             EXPECT_EQ(r.serviceDb, "sqlite:///tmp/l.sqlite");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argv[0] + " " + (c.argv.size() > 1 ? c.argv[1] : ""));
        c.check(c.argv);
    }
}

TEST(CliCommandLine, RefusesBadInputWithOneLine) {
    struct Case {
        std::vector<std::string> argv;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{}, "zanst-cli: a subcommand is needed"},
        {{"frobnicate"}, "zanst-cli: unknown subcommand \"frobnicate\""},
        {{"--frob"}, "zanst-cli: unknown option \"--frob\""},
        {{"help", "frob"}, "unknown subcommand \"frob\""},
        {{"scan"}, "zanst-cli scan: missing --port P"},
        {{"scan", "--port"}, "--port needs a value (P)"},
        {{"scan", "--port", "--json"}, "--port needs a value (P)"},
        {{"scan", "--port", "p", "--bogus"}, "unknown option --bogus"},
        {{"scan", "--port", "p", "--json", "--csv"}, "--json and --csv exclude each other"},
        {{"scan", "--port", "p", "extra"}, "unexpected argument \"extra\""},
        {{"scan", "--port", "a", "--port", "b"}, "--port given twice"},
        {{"scan", "--port", "p", "--json=yes"}, "--json takes no value"},
        {{"scan", "--port="}, "--port needs a non-empty P"},
        {{"watch", "--port", "p", "--seconds", "0"}, "--seconds: 0 is out of range (1 to 86400)"},
        {{"watch", "--port", "p", "--seconds", "1.5"}, "--seconds: \"1.5\" is not a whole number"},
        {{"watch", "--port", "p", "--seconds", " 5"}, "is not a whole number"},
        {{"watch", "--port", "p", "--seconds", "+5"}, "is not a whole number"},
        {{"watch", "--port", "p", "--interval", "99999999999999999999"}, "is not a whole number"},
        {{"watch", "--port", "p", "--interval", "50"}, "--interval: 50 is out of range (100 to 60000)"},
        {{"emulate", "--port", "p"}, "zanst-cli emulate: missing --from FILE"},
        {{"emulate", "--port", "p", "--from", "f", "--speed", "5"}, "--speed: 5 is not one of 1, 2 and 10"},
        {{"emulate", "--port", "p", "--from", "f", "--speed", "20"}, "--speed: 20 is out of range (1 to 10)"},
        {{"emulate", "--port", "p", "--from", "f", "--edit", ";"}, "--edit holds no edit"},
        {{"check", "--port", "p"}, "missing --cells N"},
        {{"check", "--port", "p", "--cells", "256"}, "--cells: 256 is out of range (1 to 255)"},
        {{"check", "--port", "p", "--cells", "4", "--max-temp", "abc"},
         "--max-temp: \"abc\" is not a number"},
        {{"check", "--port", "p", "--cells", "4", "--max-temp", "inf"}, "is not a number"},
        {{"check", "--port", "p", "--cells", "4", "--max-temp", "1e2"}, "is not a number"},
        {{"check", "--port", "p", "--cells", "4", "--max-temp", "200"}, "--max-temp: 200 is out of range"},
        {{"check", "--port", "p", "--cells", "4", "--max-crc-errors", "-1"},
         "is out of range (0 to 4294967295)"},
        {{"check", "--port", "p", "--cells", "4", "--min-mv", "3600", "--max-mv", "3400"},
         "--min-mv 3600 is above --max-mv 3400"},
        {{"flash", "--port", "p"}, "missing FILE.hex"},
        {{"flash", "--port", "p", "a.hex", "b.hex"}, "\"b.hex\" is one too many"},
        {{"export", "in.zcap"}, "zanst-cli export: missing --pcapng OUT"},
        {{"export", "--pcapng", "out"}, "missing FILE"},
        {{"export", "in.zcap", "--port", "p", "--pcapng", "o"}, "unknown option --port"},
        {{"visits", "--limit", "0"}, "--limit: 0 is out of range (1 to 1000000)"},
        {{"visits", "--csv"}, "unknown option --csv"},
        {{"visits", "extra"}, "unexpected argument \"extra\""},
        {{"report", "--pdf", "r.pdf"}, "missing VISIT"},
        {{"report", "v"}, "--pdf FILE or --json FILE is needed"},
        {{"report", "v", "--json"}, "--json needs a value (FILE)"},
        {{"report", "v", "--pdf", "r", "--json", "r"}, "--pdf and --json name the same file"},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& a : c.argv) {
            joined += a + " ";
        }
        SCOPED_TRACE(joined);
        const ParseResult r = parse(c.argv);
        const auto* e = std::get_if<UsageError>(&r);
        ASSERT_NE(e, nullptr);
        EXPECT_NE(e->message.find(c.message), std::string::npos) << e->message;
        EXPECT_EQ(e->message.find('\n'), std::string::npos) << "one line: " << e->message;
        EXPECT_EQ(e->message.rfind("zanst-cli", 0), 0u) << e->message;
    }
}

TEST(CliCommandLine, HelpTextsComeFromTheTable) {
    const ParseResult top = parse({"--help"});
    ASSERT_TRUE(std::holds_alternative<TextRequest>(top));
    const std::string& program = std::get<TextRequest>(top).text;
    for (const char* code : {"  0  success", "  2  wrong command line", "  3  the port could not be opened",
                             "  4  no balancer answered"}) {
        EXPECT_NE(program.find(code), std::string::npos) << code;
    }
    for (const CommandDef& c : commandTable()) {
        SCOPED_TRACE(std::string(c.name));
        EXPECT_NE(program.find("  " + std::string(c.name) + " "), std::string::npos);
        for (const char* form : {"--help", "-h"}) {
            const ParseResult r = parse({std::string(c.name), form});
            ASSERT_TRUE(std::holds_alternative<TextRequest>(r));
            const std::string& text = std::get<TextRequest>(r).text;
            // The usage lines, their breaks taken out, are the synopsis.
            std::string usage;
            bool blank = false;
            for (const char ch : text.substr(0, text.find("\n\n"))) {
                if (ch == ' ' || ch == '\n') {
                    blank = true;
                    continue;
                }
                if (blank && !usage.empty()) {
                    usage += ' ';
                }
                blank = false;
                usage += ch;
            }
            EXPECT_EQ(usage, "Usage: " + synopsis(c));
            for (const OptionDef& o : c.options) {
                EXPECT_NE(text.find("  " + std::string(o.name)), std::string::npos) << o.name;
            }
            for (std::size_t at = 0, next = 0; at < text.size(); at = next + 1) {
                next = text.find('\n', at);
                EXPECT_LE(next - at, 80u) << text.substr(at, next - at);
            }
        }
        const ParseResult viaHelp = parse({"help", std::string(c.name)});
        ASSERT_TRUE(std::holds_alternative<TextRequest>(viaHelp));
        EXPECT_EQ(std::get<TextRequest>(viaHelp).text, commandHelp(c));
    }
    EXPECT_EQ(synopsis(*findCommand("scan")), "zanst-cli scan --port P [--json | --csv]");
    EXPECT_EQ(synopsis(*findCommand("flash")), "zanst-cli flash FILE.hex --port P [--force]");
    EXPECT_EQ(synopsis(*findCommand("visits")),
              "zanst-cli visits [--service-db URL] [--site TEXT] [--serial S] [--limit N] [--json]");
    EXPECT_EQ(synopsis(*findCommand("report")),
              "zanst-cli report VISIT [--pdf FILE] [--json FILE] [--service-db URL]");
    const ParseResult version = parse({"--version"});
    ASSERT_TRUE(std::holds_alternative<TextRequest>(version));
    EXPECT_EQ(std::get<TextRequest>(version).text, "zanst-cli 9.8.7\n");
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The manual page and the completion name every subcommand and option the parser knows.
TEST(CliCommandLine, ManualPageAndCompletionKnowEveryOption) {
    const std::string man = fileText(std::string(ZANST_SOURCE_DIR) + "/packaging/zanst-cli.1");
    const std::string completion =
        fileText(std::string(ZANST_SOURCE_DIR) + "/packaging/bash-completion/zanst-cli");
    ASSERT_FALSE(man.empty());
    ASSERT_FALSE(completion.empty());
    const auto roff = [](std::string_view text) {
        std::string out;
        for (const char c : text) {
            out += c == '-' ? "\\-" : std::string(1, c);
        }
        return out;
    };
    for (const CommandDef& c : commandTable()) {
        SCOPED_TRACE(std::string(c.name));
        EXPECT_NE(man.find(".SS " + std::string(c.name) + " "), std::string::npos);
        const std::size_t section = man.find(".SS " + std::string(c.name) + " ");
        const std::size_t end = man.find(".SS", section + 1);
        const std::string text = man.substr(section, end - section);
        const std::string key = "    " + std::string(c.name) + ") options=\"";
        const std::size_t from = completion.find(key);
        ASSERT_NE(from, std::string::npos);
        std::istringstream words(completion.substr(
            from + key.size(), completion.find('"', from + key.size()) - from - key.size()));
        std::set<std::string> completed{std::istream_iterator<std::string>(words), {}};
        std::set<std::string> known;
        for (const OptionDef& o : c.options) {
            known.emplace(o.name);
            if (o.name != "--port") {
                EXPECT_NE(text.find(".B" + std::string(o.valueName.empty() ? " " : "I ") + roff(o.name)),
                          std::string::npos)
                    << o.name;
            }
        }
        EXPECT_EQ(completed, known);
    }
    for (const ExitCodeText& e : kExitCodes) {
        EXPECT_NE(man.find(".B " + std::to_string(code(e.code)) + "\n"), std::string::npos);
    }
}

} // namespace
} // namespace zanst::cli
