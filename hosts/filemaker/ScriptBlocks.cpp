// The block structure of a script: each If matched with its branches and End
// If, each Loop with its End Loop, before the script runs.
#include "Script.h"

namespace fm_host {

int blockDepthChange(const Script& script) {
    int change = 0;
    for (const Step& s : script.steps) {
        if (s.kind == Step::Kind::If || s.kind == Step::Kind::Loop) ++change;
        if (s.kind == Step::Kind::EndIf || s.kind == Step::Kind::EndLoop) --change;
    }
    return change;
}

Script parseScript(const std::string& text) {
    Script sc;
    for (const auto& [line, n] : scriptLines(text)) sc.steps.push_back(parseStep(line, n));
    // Match the blocks: each open If keeps its latest branch, each Loop its exits.
    struct Open {
        std::size_t at, lastBranch;
        bool sawElse = false;
        std::vector<std::size_t> branches;  // an If's If, Else If and Else steps
    };
    std::vector<Open> open;
    auto fail = [&](std::size_t i, const std::string& why) {
        if (sc.structureError) return;
        Step e = sc.steps[i];
        e.error = CalcError(1, why);
        sc.structureError = e;
    };
    std::vector<std::size_t> loops;  // the open Loops, innermost last
    for (std::size_t i = 0; i < sc.steps.size(); ++i) {
        Step& s = sc.steps[i];
        if (!loops.empty()) s.loopEnd = loops.back();  // for now the Loop; its End Loop below
        using K = Step::Kind;
        switch (s.kind) {
            case K::If:
                open.push_back({i, i, false, {i}});
                break;
            case K::Loop:
                open.push_back({i, i});
                loops.push_back(i);
                break;
            case K::ElseIf:
            case K::Else:
                if (open.empty() || sc.steps[open.back().at].kind != K::If) {
                    fail(i, s.source + " without an If");
                    break;
                }
                if (open.back().sawElse) fail(i, s.source + " after Else");
                sc.steps[open.back().lastBranch].jump = i;
                open.back().lastBranch = i;
                open.back().sawElse = s.kind == K::Else;
                open.back().branches.push_back(i);
                break;
            case K::EndIf: {
                if (open.empty() || sc.steps[open.back().at].kind != K::If) {
                    fail(i, "End If without an If");
                    break;
                }
                sc.steps[open.back().lastBranch].jump = i;
                for (std::size_t k : open.back().branches) sc.steps[k].ifEnd = i;
                open.pop_back();
                break;
            }
            case K::ExitLoopIf:
                if (s.loopEnd == Step::kNone) fail(i, "Exit Loop If outside a Loop");
                break;
            case K::EndLoop: {
                if (open.empty() || sc.steps[open.back().at].kind != K::Loop) {
                    fail(i, "End Loop without a Loop");
                    break;
                }
                const std::size_t loop = open.back().at;
                sc.steps[loop].jump = i;
                s.jump = loop;
                open.pop_back();
                loops.pop_back();
                break;
            }
            default:
                break;
        }
    }
    for (const auto& o : open)
        fail(o.at, sc.steps[o.at].kind == Step::Kind::If ? "this If has no End If" : "this Loop has no End Loop");
    // Steps inside a loop point at its End Loop (Exit Loop If, Go to Record's Exit after last).
    for (auto& s : sc.steps)
        if (s.loopEnd != Step::kNone) s.loopEnd = sc.steps[s.loopEnd].jump;
    return sc;
}

}  // namespace fm_host
