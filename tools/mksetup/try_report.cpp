#include "try_report.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

namespace mksetup::trying {

namespace {

const char* KindName(RunKind k) {
    switch (k) {
    case RunKind::Wizard: return "wizard";
    case RunKind::Unattended: return "unattended";
    default: return "dry run";
    }
}

bool Installed(long long code) { return code == 0 || code == 3010; }

std::string Json(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                out += buffer;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string Html(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

void Add(RunReport& run, const std::string& what, bool ok, const std::string& detail) {
    run.checks.push_back({run.Name() + ": " + what, ok, detail});
}

}  // namespace

std::string RunReport::Name() const { return language + " " + KindName(kind); }

bool RunReport::Passed() const {
    for (const Check& c : checks)
        if (!c.ok) return false;
    return true;
}

void Evaluate(RunReport& run, const PackageTraits& traits) {
    run.checks.clear();
    std::string boxes;
    for (const BoxFact& b : run.boxes) boxes += (boxes.empty() ? "" : "; ") + b.caption + ": " + b.text;
    if (run.kind == RunKind::Wizard) {
        Add(run, "the wizard started", run.started && !run.pages.empty(),
            run.pages.empty() ? (boxes.empty() ? "no wizard appeared" : "instead a message box: " + boxes) : "");
        if (run.pages.empty()) {
            Add(run, "setup.exe ended with success", Installed(run.exitCode), "exit code " + std::to_string(run.exitCode));
            return;
        }
        std::string seen;
        for (const PageFact& p : run.pages) seen += (seen.empty() ? "" : ", ") + p.name;
        Add(run, "every page shown, welcome to finish",
            run.pages.front().name == "welcome" && run.pages.back().name == "finish", "pages: " + seen);
        std::string cut;
        for (const PageFact& p : run.pages)
            for (const ControlFact& c : p.controls)
                if (!c.fits) cut += (cut.empty() ? "" : "; ") + ("page " + p.name + ", control " + std::to_string(c.id) + " (" + c.kind + "): " + c.why);
        Add(run, "texts fit their controls", cut.empty(), cut);
        if (traits.sidePicture)
            for (const PageFact& p : run.pages)
                if (p.sidePictureArea && p.name == "welcome")
                    Add(run, "side picture shown", p.sidePictureInk > 0.02,
                        std::to_string(static_cast<int>(p.sidePictureInk * 100)) + "% of its area drawn");
        if (run.language == "ko") {
            int hangul = 0, missing = 0;
            std::string faces;
            for (const PageFact& p : run.pages) {
                hangul += p.hangul;
                missing += p.hangulMissing;
                if (faces.find(p.face) == std::string::npos) faces += (faces.empty() ? "" : ", ") + p.face;
            }
            Add(run, "Korean pages use a Korean font", hangul > 0 && missing == 0,
                std::to_string(hangul) + " Hangul characters, " + std::to_string(missing) + " without a glyph in " + faces);
        }
        if (!boxes.empty()) Add(run, "no message box", false, boxes);
    } else {
        Add(run, "setup.exe started", run.started, "");
        if (!boxes.empty()) Add(run, "no message box", false, boxes);
    }
    Add(run, "setup.exe ended with success", Installed(run.exitCode), "exit code " + std::to_string(run.exitCode));
    if (run.kind != RunKind::Wizard)
        Add(run, "status file says Success", run.statusFile == "Success",
            run.statusFile.empty() ? "no installerror.txt" : "installerror.txt: " + run.statusFile);
    if (run.kind == RunKind::DryRun) {
        // Of the installation it ran over: Wine's own bookkeeping changes on
        // every start, and the dry run's status file lies beside setup.exe.
        std::string changed;
        for (const FileEntry& f : run.installed.files)
            if (run.over.Covers(f.path, false))
                changed += (changed.empty() ? "" : ", ") + f.path;
        for (const ValueEntry& v : run.installed.values)
            if (run.over.Covers(v.key + "\\" + v.name, true)) changed += (changed.empty() ? "" : ", ") + v.key + "\\" + v.name;
        Add(run, "the dry run changed nothing", changed.empty(), changed);
        return;
    }
    if (!Installed(run.exitCode)) return;
    Add(run, "files installed", !run.installed.files.empty(), std::to_string(run.installed.files.size()) + " files and folders");
    Add(run, "flist.lst written", run.flistFound, "");
    for (const LinkFact& l : run.links) Add(run, "shortcut reads back", l.read && !l.target.empty(), l.file + " -> " + l.target);
    if (run.removalCommand.empty()) {
        Add(run, "removal registered", false, "no UninstallString was written");
        return;
    }
    Add(run, "removal ended with success", run.removalExit == 0, "exit code " + std::to_string(run.removalExit));
    std::string left;
    for (const Leftover& l : run.leftovers)
        if (l.package) left += (left.empty() ? "" : "; ") + l.kind + " " + l.path;
    Add(run, "removal left nothing of the package", left.empty(), left);
}

std::vector<const Check*> TryReport::Failed() const {
    std::vector<const Check*> failed;
    for (const RunReport& r : runs)
        for (const Check& c : r.checks)
            if (!c.ok) failed.push_back(&c);
    return failed;
}

std::string ReportJson(const TryReport& report) {
    std::ostringstream o;
    auto failed = report.Failed();
    o << "{\n  \"package\": " << Json(report.package) << ",\n  \"setupExe\": " << Json(report.setupExe)
      << ",\n  \"driver\": " << Json(report.driver) << ",\n  \"passed\": " << (failed.empty() ? "true" : "false")
      << ",\n  \"failed\": [";
    for (std::size_t i = 0; i < failed.size(); ++i) o << (i ? ", " : "") << Json(failed[i]->name);
    o << "],\n  \"notes\": [";
    for (std::size_t i = 0; i < report.notes.size(); ++i) o << (i ? ", " : "") << Json(report.notes[i]);
    o << "],\n  \"runs\": [";
    for (std::size_t r = 0; r < report.runs.size(); ++r) {
        const RunReport& run = report.runs[r];
        o << (r ? "," : "") << "\n    {\"name\": " << Json(run.Name()) << ", \"language\": " << Json(run.language)
          << ", \"kind\": " << Json(KindName(run.kind)) << ", \"command\": " << Json(run.command)
          << ", \"exitCode\": " << run.exitCode << ", \"statusFile\": " << Json(run.statusFile) << ",\n     \"checks\": [";
        for (std::size_t i = 0; i < run.checks.size(); ++i)
            o << (i ? ", " : "") << "{\"name\": " << Json(run.checks[i].name) << ", \"ok\": " << (run.checks[i].ok ? "true" : "false")
              << ", \"detail\": " << Json(run.checks[i].detail) << "}";
        o << "],\n     \"pages\": [";
        for (std::size_t i = 0; i < run.pages.size(); ++i) {
            const PageFact& p = run.pages[i];
            o << (i ? ", " : "") << "{\"name\": " << Json(p.name) << ", \"picture\": " << Json(p.picture)
              << ", \"caption\": " << Json(p.caption) << ", \"font\": " << Json(p.face) << ", \"charset\": " << p.charset
              << ", \"sidePictureInk\": " << p.sidePictureInk << ", \"controls\": [";
            for (std::size_t c = 0; c < p.controls.size(); ++c) {
                const ControlFact& f = p.controls[c];
                o << (c ? ", " : "") << "{\"id\": " << f.id << ", \"kind\": " << Json(f.kind) << ", \"fits\": "
                  << (f.fits ? "true" : "false") << ", \"need\": [" << f.needWidth << ", " << f.needHeight << "], \"have\": ["
                  << f.haveWidth << ", " << f.haveHeight << "], \"text\": " << Json(f.text) << "}";
            }
            o << "]}";
        }
        o << "],\n     \"boxes\": [";
        for (std::size_t i = 0; i < run.boxes.size(); ++i)
            o << (i ? ", " : "") << "{\"caption\": " << Json(run.boxes[i].caption) << ", \"text\": " << Json(run.boxes[i].text)
              << ", \"picture\": " << Json(run.boxes[i].picture) << "}";
        o << "],\n     \"files\": [";
        for (std::size_t i = 0; i < run.installed.files.size(); ++i) {
            const FileEntry& f = run.installed.files[i];
            o << (i ? ", " : "") << "{\"path\": " << Json(f.path) << ", \"folder\": " << (f.folder ? "true" : "false")
              << ", \"size\": " << f.size << "}";
        }
        o << "],\n     \"values\": [";
        for (std::size_t i = 0; i < run.installed.values.size(); ++i) {
            const ValueEntry& v = run.installed.values[i];
            o << (i ? ", " : "") << "{\"key\": " << Json(v.key) << ", \"name\": " << Json(v.name) << ", \"type\": " << Json(v.type)
              << ", \"data\": " << Json(v.data) << "}";
        }
        o << "],\n     \"links\": [";
        for (std::size_t i = 0; i < run.links.size(); ++i) {
            const LinkFact& l = run.links[i];
            o << (i ? ", " : "") << "{\"file\": " << Json(l.file) << ", \"target\": " << Json(l.target) << ", \"arguments\": "
              << Json(l.arguments) << ", \"folder\": " << Json(l.folder) << ", \"description\": " << Json(l.description) << "}";
        }
        o << "],\n     \"flist\": " << Json(run.flist) << ", \"log\": " << Json(run.logWritten ? run.log : "")
          << ", \"logWritten\": " << (run.logWritten ? "true" : "false") << ",\n     \"removal\": {\"command\": "
          << Json(run.removalCommand) << ", \"exitCode\": " << run.removalExit << ", \"left\": [";
        for (std::size_t i = 0; i < run.leftovers.size(); ++i) {
            const Leftover& l = run.leftovers[i];
            o << (i ? ", " : "") << "{\"kind\": " << Json(l.kind) << ", \"path\": " << Json(l.path) << ", \"whose\": "
              << Json(l.package ? "package" : "user") << "}";
        }
        o << "]}}";
    }
    o << "\n  ]\n}\n";
    return o.str();
}

namespace {

void Table(std::ostringstream& o, const std::vector<std::string>& head, const std::vector<std::vector<std::string>>& rows,
           const std::string& empty) {
    if (rows.empty()) {
        o << "<p class=none>" << Html(empty) << "</p>\n";
        return;
    }
    o << "<table><tr>";
    for (const std::string& h : head) o << "<th>" << Html(h) << "</th>";
    o << "</tr>\n";
    for (const auto& row : rows) {
        o << "<tr>";
        for (const std::string& cell : row) o << "<td>" << Html(cell) << "</td>";
        o << "</tr>\n";
    }
    o << "</table>\n";
}

void Section(std::ostringstream& o, const RunReport& run) {
    o << "<section class=\"" << (run.Passed() ? "pass" : "fail") << "\" id=\"" << Html(run.language) << "-" << KindName(run.kind)
      << "\">\n<h2>" << Html(run.Name()) << (run.Passed() ? " &mdash; passed" : " &mdash; FAILED") << "</h2>\n<p><code>"
      << Html(run.command) << "</code> &rarr; exit code " << run.exitCode << "</p>\n<h3>Checks</h3>\n<ul class=checks>";
    for (const Check& c : run.checks)
        o << "<li class=" << (c.ok ? "ok" : "bad") << ">" << (c.ok ? "&#10003; " : "&#10007; ") << Html(c.name)
          << (c.detail.empty() ? "" : " &mdash; " + Html(c.detail)) << "</li>";
    o << "</ul>\n";
    if (!run.pages.empty()) {
        o << "<h3>Pages</h3>\n<div class=pages>";
        for (const PageFact& p : run.pages) {
            o << "<figure><img src=\"" << Html(p.picture) << "\" alt=\"" << Html(p.name) << "\"><figcaption>" << p.number << ". "
              << Html(p.name) << " &mdash; font " << Html(p.face) << "</figcaption>";
            std::vector<std::vector<std::string>> rows;
            for (const ControlFact& c : p.controls)
                if (!c.fits) rows.push_back({std::to_string(c.id), c.kind, c.why});
            if (!rows.empty()) Table(o, {"control", "kind", "cut off"}, rows, "");
            o << "</figure>\n";
        }
        o << "</div>\n";
    }
    if (!run.boxes.empty()) {
        o << "<h3>Message boxes</h3>\n<div class=pages>";
        for (const BoxFact& b : run.boxes)
            o << "<figure>" << (b.picture.empty() ? "" : "<img src=\"" + Html(b.picture) + "\" alt=\"message box\">") << "<figcaption>"
              << Html(b.caption) << ": " << Html(b.text) << "</figcaption></figure>\n";
        o << "</div>\n";
    }
    const char* after = run.kind == RunKind::DryRun ? "Changed by the dry run" : "Files installed";
    o << "<h3>" << after << "</h3>\n";
    std::vector<std::vector<std::string>> rows;
    for (const FileEntry& f : run.installed.files) rows.push_back({f.path, f.folder ? "folder" : std::to_string(f.size)});
    Table(o, {"path", "bytes"}, rows, "nothing");
    o << "<h3>Registry values written</h3>\n";
    rows.clear();
    for (const ValueEntry& v : run.installed.values) rows.push_back({v.key, v.name, v.type, v.data});
    Table(o, {"key", "name", "type", "data"}, rows, "none");
    o << "<h3>Shortcuts</h3>\n";
    rows.clear();
    for (const LinkFact& l : run.links) rows.push_back({l.file, l.target, l.arguments, l.folder, l.description});
    Table(o, {"shortcut", "target", "arguments", "start in", "description"}, rows, "none");
    // The programs it ran and their exit codes, as its run log tells them.
    o << "<h3>Programs run</h3>\n";
    rows.clear();
    for (std::size_t start = 0; run.logWritten && start < run.log.size();) {
        std::size_t end = std::min(run.log.find('\n', start), run.log.size());
        std::string line = run.log.substr(start, end - start), lower = line;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.find("program") != std::string::npos || lower.find("exit code") != std::string::npos) rows.push_back({line});
        start = end + 1;
    }
    Table(o, {"from the run log"}, rows, run.logWritten ? "none" : "no log written (the run log names them)");
    o << "<h3>flist.lst</h3>\n" << (run.flistFound ? "<pre>" + Html(run.flist) + "</pre>" : "<p class=none>not written</p>") << "\n";
    o << "<h3>Run log</h3>\n<p><code>" << Html(run.logPath) << "</code></p>"
      << (run.logWritten ? "<pre>" + Html(run.log) + "</pre>" : "<p class=none>no log written</p>") << "\n";
    if (!run.removalCommand.empty()) {
        o << "<h3>Removal</h3>\n<p><code>" << Html(run.removalCommand) << "</code> &rarr; exit code " << run.removalExit << "</p>\n";
        rows.clear();
        for (const Leftover& l : run.leftovers) rows.push_back({l.kind, l.path, l.package ? "the package's" : "the user's"});
        Table(o, {"left", "path", "whose"}, rows, "nothing left");
    }
    o << "</section>\n";
}

}  // namespace

std::string ReportHtml(const TryReport& report) {
    std::ostringstream o;
    auto failed = report.Failed();
    o << "<!DOCTYPE html>\n<html lang=en><head><meta charset=\"utf-8\"><title>mksetup try: " << Html(report.package)
      << "</title>\n<style>body{font-family:sans-serif;margin:1em 2em}table{border-collapse:collapse;margin:.5em 0}"
         "td,th{border:1px solid #ccc;padding:2px 6px;text-align:left;font-size:90%}pre{background:#f6f6f6;padding:.5em;"
         "overflow:auto;max-height:20em}.pages{display:flex;flex-wrap:wrap;gap:1em}figure{margin:0}figure img{border:1px solid #888}"
         ".fail h2{color:#b00}.pass h2{color:#070}.bad{color:#b00}.ok{color:#070}.none{color:#777}"
         "section{border-top:2px solid #ddd;margin-top:1.5em}</style></head><body>\n<h1>mksetup try: "
      << Html(report.package) << "</h1>\n<p>setup.exe: <code>" << Html(report.setupExe) << "</code>; driver: <code>"
      << Html(report.driver) << "</code></p>\n";
    if (failed.empty()) {
        o << "<p class=ok>Every run ended as it should, and removal left nothing of the package.</p>\n";
    } else {
        o << "<h2 class=bad>Failed checks</h2>\n<ul>";
        for (const Check* c : failed) o << "<li class=bad>" << Html(c->name) << (c->detail.empty() ? "" : " &mdash; " + Html(c->detail)) << "</li>";
        o << "</ul>\n";
    }
    for (const std::string& n : report.notes) o << "<p class=none>" << Html(n) << "</p>\n";
    // The browser says whether every picture could be shown (a picture
    // missing beside the report would otherwise go unnoticed).
    o << "<p id=pictures class=none></p><script>addEventListener('load',function(){var i=[].slice.call(document.images),"
         "ok=i.filter(function(x){return x.complete&&x.naturalWidth>0;}).length,p=document.getElementById('pictures');"
         "p.dataset.loaded=ok;p.dataset.total=i.length;p.textContent=ok+' of '+i.length+' pictures shown';});</script>\n";
    // Failures first, then the rest in the order they ran.
    for (const RunReport& run : report.runs)
        if (!run.Passed()) Section(o, run);
    for (const RunReport& run : report.runs)
        if (run.Passed()) Section(o, run);
    o << "</body></html>\n";
    return o.str();
}

}  // namespace mksetup::trying
