#include "cli/cli_session.h"

#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/chat_commands.h"
#include "app/send_pace.h"
#include "cli/exit_code.h"
#include "cli/json_line.h"
#include "cli/terminal.h"
#include "cli/terminal_chat.h"
#include "link/gate/handshake_gate.h"
#include "link/transfer/transfer_engine.h"
#include "link/wire/delivery_frames.h"
#include "toolkit/file_system.h"
#include "toolkit/format.h"
#include "upnp/port_mapping.h"

namespace mirka::cli {

namespace {

constexpr int kFallbackColumns = 80;
// As the login window: a start without a passphrase waits this long for a peer's hello, so
// that a peer asking for one is refused before the link counts as standing.
constexpr std::chrono::seconds kHelloWait{2};

// The heading of a log message (up to its first line end) and the lines of its body.
std::pair<WString, std::vector<WString>> SplitMessage(const std::vector<LogRun>& runs) {
    WString text;
    for (const LogRun& run : runs) text += run.text;
    std::size_t end = text.find(u"\r\n");
    WString heading = text.substr(0, end);
    std::vector<WString> body;
    if (end == WString::npos) return {heading, body};
    for (std::size_t at = end + 2; at < text.size();) {
        std::size_t next = text.find(u"\r\n", at);
        WString line = text.substr(at, next == WString::npos ? WString::npos : next - at);
        // A chat line's own breaks come as a lone CR or LF, too.
        if (!line.empty()) body.push_back(line);
        if (next == WString::npos) break;
        at = next + 2;
    }
    return {heading, body};
}

bool IsSystemHeading(WStringView heading) {
    return heading.starts_with(u"System");
}

// A box that tells why a private link's handshake failed.
bool IsHandshakeRefusal(const WString& text) {
    for (secure::Outcome outcome :
         {secure::Outcome::WrongPassphrase, secure::Outcome::PeerHasNoPassphrase,
          secure::Outcome::PeerWantsPassphrase, secure::Outcome::Broken, secure::Outcome::Pending})
        if (text == HandshakeOutcomeText(outcome)) return true;
    return false;
}

std::string Trimmed(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    return line;
}

}  // namespace

CliSession::CliSession(CliOptions givenOptions)
    : options(std::move(givenOptions)),
      inputIsTerminal(Terminal::IsTerminal(STDIN_FILENO)),
      output(!options.json && Terminal::IsTerminal(STDERR_FILENO)),
      style(options.json              ? ProgressReport::Style::Json
            : Terminal::IsTerminal(2) ? ProgressReport::Style::Live
                                      : ProgressReport::Style::Lines) {
    report = std::make_unique<ProgressReport>(output, style, kFallbackColumns - 1);
    FollowWidth();
}

void CliSession::FollowWidth() {
    if (style != ProgressReport::Style::Live) return;
    int screen = Terminal::Columns(STDERR_FILENO, kFallbackColumns);
    output.SetScreenColumns(screen);
    // A line one column short of the terminal's width never wraps; at most 80 columns.
    report->SetColumns(std::max(std::min(screen, 80) - 1, 20));
}

CliSession::~CliSession() {
    WipeText(passphrase);
}

void CliSession::Note(const std::string& json, const WString& text) {
    if (options.json) {
        output.Out(Trimmed(json));
    } else {
        output.Err(ToNarrow(text));
    }
}

int CliSession::Prepare() {
    std::error_code error;
    std::filesystem::path folder =
        options.receiveTo.empty()
            ? std::filesystem::current_path(error)
            : std::filesystem::absolute(Terminal::PathOf(options.receiveTo), error);
    if (error || !std::filesystem::is_directory(folder, error)) {
        output.Err("mirka-cli: 受信フォルダがありません: " + options.receiveTo);
        return kExitOther;
    }
    WString receiveFolder = FromFsPath(folder.lexically_normal());
    if (receiveFolder.empty() || receiveFolder.back() != kPathSeparator)
        receiveFolder += kPathSeparator;
    if (receiveFolder.size() > kReceiveFolderLimit) {
        output.Err("mirka-cli: 受信フォルダのパスが長すぎます");
        return kExitOther;
    }
    values.SetReceiveFolder(receiveFolder);
    for (const std::string& given : options.sendPaths) {
        std::filesystem::path path = std::filesystem::absolute(Terminal::PathOf(given), error);
        if (error || !std::filesystem::exists(path, error)) {
            output.Err("mirka-cli: ファイルが見つかりません: " + given);
            return kExitOther;
        }
        sendPaths.push_back(FromFsPath(path.lexically_normal()));
    }
    // The passphrase: a file, the environment, or the terminal, never the command line.
    std::string secret;
    bool haveSecret = false;
    if (!options.passphraseFile.empty()) {
        std::ifstream in(Terminal::PathOf(options.passphraseFile), std::ios::binary);
        if (!in) {
            output.Err("mirka-cli: 合言葉のファイルを開けません: " + options.passphraseFile);
            return kExitOther;
        }
        std::getline(in, secret);
        haveSecret = true;
    } else if (auto env = Terminal::Variable("MIRKA_PASSPHRASE"); env && !env->empty()) {
        secret = std::move(*env);
        haveSecret = true;
    } else if (options.askPassphrase) {
        if (!inputIsTerminal) {
            output.Err("mirka-cli: --ask-passphrase には端末からの入力が必要です");
            return kExitUsage;
        }
        std::optional<std::string> typed = Terminal::ReadSecretLine("合言葉: ");
        if (!typed) return kExitInterrupted;
        ++passphrasePrompts;
        secret = std::move(*typed);
        haveSecret = true;
    }
    if (haveSecret) {
        while (!secret.empty() && (secret.back() == '\n' || secret.back() == '\r'))
            secret.pop_back();
        passphrase = FromUtf8(secret);
        std::fill(secret.begin(), secret.end(), '\0');
        if (passphrase.empty()) {
            output.Err("mirka-cli: 合言葉が空です");
            return kExitUsage;
        }
    }
    if (options.name) values.SetUserName(FromNarrow(*options.name));
    if (options.status) values.SetStatusText(FromNarrow(*options.status));
    values.SetSoundOn(false);
    return kExitOk;
}

void CliSession::OnOffer(TaskManager& manager, const TransferEngine::OfferAsked& offer) {
    if (!offer.withdrawn && (!inputIsTerminal || !inputOpen)) {
        // Nobody is there to answer.
        manager.AnswerOffer(offer.ticket, false);
        return;
    }
    CliEvent event;
    event.kind = CliEvent::Kind::Ask;
    event.offer = offer;
    queue.Push(std::move(event));
}

void CliSession::OfferWithdrawn(std::uint64_t ticket) {
    auto it = std::find_if(questions.begin(), questions.end(),
                           [ticket](const auto& asked) { return asked.ticket == ticket; });
    if (it == questions.end()) return;
    bool asking = it == questions.begin();
    WString name = it->name;
    questions.erase(it);
    if (asking) output.PromptWithdrawn();
    Note(JsonLine("withdrawn").Add("name", name).Text(),
         u"「" + name + u"」の申し出は取り下げられました");
    if (asking) AskNext();
}

void CliSession::RefuseQuestions() {
    for (const auto& asked : questions) link->AnswerOffer(asked.ticket, false);
    questions.clear();
}

bool CliSession::StartLink() {
    link = std::make_unique<TaskManager>(&values);
    link->ownerWindow = &window;
    // Another copy of this program hears what this one can do beyond the original wire.
    link->SetCapabilities(kKnownCapabilities);
    link->SetPassphrase(passphrase);
    link->SetHelloWait(kHelloWait);
    // From a shell nobody sets a pace: the window's fastest.
    SendPace pace = SendPaceChoices().back().pace;
    link->sendWait = static_cast<std::uint16_t>(options.sendWait.value_or(pace.wait));
    link->sendBufSize = options.sendBufSize.value_or(pace.bufSize);
    // Unasked, every offer is taken.
    if (!options.accept)
        link->SetOfferQuestion(
            [this, manager = link.get()](const TransferEngine::OfferAsked& offer) {
                OnOffer(*manager, offer);
            });
    bool wait = options.role == CliOptions::Role::Wait;
    std::unique_ptr<Pinhole> pinhole;
    if (options.upnp) {
        PortMappingContext mapping;
        mapping.linkPort = options.port;
        mapping.listening = wait;
        MapRouterPort(nullptr, mapping);
        if (!mapping.ownAddressText.empty())
            Note(JsonLine("address").Add("address", mapping.ownAddressText).Text(),
                 u"自分のアドレス: " + FromNarrow(mapping.ownAddressText));
        pinhole = std::move(mapping.pinhole);
    }
    if (wait)
        Note(JsonLine("listening").Add("port", int{options.port}).Text(),
             Format(kFormatCapacity, u"サーバ .. 接続待機中です (ポート %d)",
                    static_cast<int>(options.port)));
    else
        Note(JsonLine("connecting").Add("host", options.host).Add("port", int{options.port}).Text(),
             u"サーバに接続しています");
    std::atomic<bool> cancelled{false};
    std::thread starter([&] {
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(options.retrySeconds);
        bool started = false;
        // A peer started at the same moment listens within a few milliseconds: the first
        // tries come soon after each other, later ones no more than five times a second.
        auto pause = std::chrono::milliseconds(10);
        for (;;) {
            started = wait ? link->StartServer(options.port)
                           : link->ConnectToServer(options.host, options.port);
            // A peer turned away in the handshake does not end a wait, as in the window: the
            // same port listens for the next one.
            if (wait && !started && !cancelled && !link->LastRefusal().empty()) {
                CliEvent refused;
                refused.kind = CliEvent::Kind::Started;
                refused.text = u"refused";
                refused.caption = link->LastRefusal();
                queue.Push(std::move(refused));
                continue;
            }
            // A connect the peer refused in the handshake is not tried again: the box that
            // says so may still be on its way.
            if (started || wait || cancelled || window.PassphraseRefused() ||
                !link->LastRefusal().empty() || std::chrono::steady_clock::now() >= deadline)
                break;
            // The peer is not listening yet: what the failed attempt said is dropped.
            CliEvent retry;
            retry.kind = CliEvent::Kind::Started;
            retry.text = u"retry";
            queue.Push(std::move(retry));
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(200));
        }
        CliEvent done;
        done.kind = CliEvent::Kind::Started;
        done.started = started;
        queue.Push(std::move(done));
    });
    std::vector<CliEvent> boxes;
    bool started = false;
    // A link closed while starting: this start's, or one the wait turned away.
    bool closedMeanwhile = false;
    int refusals = 0;
    for (bool waiting = true; waiting;) {
        auto ready = Terminal::WaitReadable({queue.WakeFd(), Terminal::SignalFd()}, 1000);
        if (ready[1] && Terminal::TakeSignal()) {
            interrupted = true;
            cancelled = true;
        }
        // Again at every wake: a wait that listens anew after a refusal may not have been
        // listening yet at the signal.
        if (interrupted) link->CancelServerWait();
        for (CliEvent& event : queue.TakeAll()) {
            if (event.kind == CliEvent::Kind::Started) {
                if (event.text == u"retry") {
                    boxes.clear();
                    continue;
                }
                if (event.text == u"refused") {
                    ++refusals;
                    boxes.clear();
                    NoteRefusal(event.caption);
                    continue;
                }
                waiting = false;
                started = event.started;
            } else if (event.kind == CliEvent::Kind::LinkClosed) {
                closedMeanwhile = true;
            } else if (event.kind == CliEvent::Kind::Box) {
                boxes.push_back(std::move(event));
            } else {
                Handle(event);
            }
        }
    }
    starter.join();
    CliEvent closed;
    closed.kind = CliEvent::Kind::LinkClosed;
    if (!started || interrupted) {
        if (closedMeanwhile) Handle(closed);
        // An ended wait says nothing but that it was interrupted.
        if (!interrupted)
            for (CliEvent& box : boxes) Handle(box);
        // What a turned-away peer left is no refusal of this run.
        if (wait && refusals > 0) window.ClearRefusal();
        startFailed = true;
        if (started) link->Disconnect();
        return false;
    }
    if (refusals > 0) {
        // Every word of the links turned away came before this start's end: their closing,
        // and the box that told of the refusal again (said above already).
        std::erase_if(boxes, [](const CliEvent& box) { return IsHandshakeRefusal(box.text); });
        window.ClearRefusal();
        closedMeanwhile = closedMeanwhile && link->LinkState() == LINK_CLOSED;
    }
    for (CliEvent& box : boxes) Handle(box);
    linked = true;
    // The pinhole stays while the link stands; a server takes no second peer.
    pinhole.reset();
    std::string peer = link->PeerAddressText();
    bool secret = link->LinkIsPrivate();
    Note(
        JsonLine("linked").Add("peer", peer).Add("private", secret).Text(),
        u"接続しました: " + FromNarrow(peer) + (secret ? WString(kPrivateTitleSuffix) : WString()));
    if (closedMeanwhile) Handle(closed);
    if (options.status) link->QueueStatusMessage(values.StatusText());
    for (const WString& path : sendPaths) {
        int row = rows.AddTransferRow(path);
        ownSends.push_back(row);
        link->SendFile(path, row);
    }
    return true;
}

void CliSession::NoteRefusal(const WString& refusal) {
    // "address (why)", as the login window's status line shows it.
    std::size_t open = refusal.find(u" (");
    WString peer = refusal.substr(0, open);
    WString why = open == WString::npos || refusal.size() < open + 3
                      ? WString()
                      : refusal.substr(open + 2, refusal.size() - open - 3);
    Note(JsonLine("refused").Add("peer", peer).Add("reason", why).Text(),
         refusal + u" を断りました .. 接続待機中です");
}

void CliSession::SettleRefusedStart() {
    if (!link || link->LastRefusal().empty()) return;
    // The I/O thread may still be ending the refused link, and its box telling why comes as
    // the link's reading ends: both are waited for before the refusal is judged.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (link->LinkState() != LINK_CLOSED && std::chrono::steady_clock::now() < deadline) {
        Terminal::WaitReadable({queue.WakeFd()}, 100);
        HandleEvents();
    }
    link->RestartThreads();
}

bool CliSession::AskPassphraseAgain() {
    // Tries a typed passphrase at most three times, as a login does.
    constexpr int kPrompts = 3;
    secure::Outcome refusal = window.Refusal();
    bool wanted = refusal == secure::Outcome::PeerWantsPassphrase && passphrase.empty();
    bool mistyped = refusal == secure::Outcome::WrongPassphrase && passphrasePrompts > 0;
    if (interrupted || !inputIsTerminal || passphrasePrompts >= kPrompts || !(wanted || mistyped))
        return false;
    std::optional<std::string> typed = Terminal::ReadSecretLine(
        wanted ? "相手は合言葉を求めています。合言葉: " : "合言葉が違います。もう一度: ");
    ++passphrasePrompts;
    if (!typed && Terminal::TakeSignal()) interrupted = true;
    if (!typed || typed->empty()) {
        if (typed) std::fill(typed->begin(), typed->end(), '\0');
        return false;
    }
    WipeText(passphrase);
    passphrase = FromUtf8(*typed);
    std::fill(typed->begin(), typed->end(), '\0');
    return true;
}

void CliSession::PrintMessage(const WString& message) {
    // What a command says is for this user alone: standard error, heading and every line.
    LogRun run;
    run.text = message;
    auto [heading, body] = SplitMessage({run});
    if (options.json) {
        PrintLog({run});
        return;
    }
    std::string text = IsSystemHeading(heading) ? "" : ToNarrow(heading);
    for (const WString& line : body) text += (text.empty() ? "" : "\n") + ToNarrow(line);
    output.Err(text);
}

void CliSession::PrintLog(const std::vector<LogRun>& runs) {
    auto [heading, body] = SplitMessage(runs);
    bool system = IsSystemHeading(heading);
    if (options.json) {
        WString text;
        for (const WString& line : body) text += (text.empty() ? u"" : u"\n") + line;
        JsonLine line(system ? "message" : "chat");
        if (system)
            line.Add("error", heading.find(u"Error") != WString::npos);
        else
            line.Add("heading", heading);
        output.Out(Trimmed(line.Add("text", text).Text()));
        return;
    }
    if (system) {
        // The heading says only that the program speaks; the body says what.
        std::string line = heading.find(u"Error") != WString::npos ? "エラー: " : "";
        for (std::size_t i = 0; i < body.size(); ++i) line += (i ? "  " : "") + ToNarrow(body[i]);
        output.Err(line);
        return;
    }
    // A chat line: its heading (name and time), then its text.
    std::string line = ToNarrow(heading);
    for (std::size_t i = 0; i < body.size(); ++i) line += (i ? "\n  " : "") + ToNarrow(body[i]);
    output.Out(line);
}

void CliSession::Handle(CliEvent& event) {
    switch (event.kind) {
        case CliEvent::Kind::Log:
            PrintLog(event.runs);
            break;
        case CliEvent::Kind::PeerStatus:
            Note(Trimmed(JsonLine("status").Add("text", event.text).Text()),
                 u"相手のステータス: " + event.text);
            break;
        case CliEvent::Kind::Title:
        case CliEvent::Kind::Started:
            break;
        case CliEvent::Kind::Link:
            if (event.linkEvent == LinkEvent::PeerEndedLink) peerEnded = true;
            break;
        case CliEvent::Kind::Fact:
            ApplyTransferFact(rows, event.fact);
            report->Update(rows);
            break;
        case CliEvent::Kind::LinkClosed: {
            // Told once, though a link closed while starting may be told of twice; a link
            // that never stood (a refused or interrupted start) is not told of.
            bool told = linkClosed || !linked;
            linkClosed = true;
            std::vector<TransferRow> all = rows.Rows();
            for (std::size_t i = 0; i < all.size(); ++i)
                if (!StageEnded(all[i].stage)) cutRows.insert(static_cast<int>(i));
            if (options.json && !told) output.Out(Trimmed(JsonLine("closed").Text()));
            break;
        }
        case CliEvent::Kind::Box: {
            WString text = event.text;
            for (std::size_t at; (at = text.find(u"\r\n")) != WString::npos;)
                text.replace(at, 2, u" ");
            Note(Trimmed(JsonLine("error").Add("text", text).Text()), event.caption + u": " + text);
            break;
        }
        case CliEvent::Kind::Ask:
            if (event.offer.withdrawn) {
                OfferWithdrawn(event.offer.ticket);
                break;
            }
            if (!inputOpen) {
                link->AnswerOffer(event.offer.ticket, false);
                break;
            }
            questions.push_back(event.offer);
            if (questions.size() == 1) AskNext();
            break;
    }
}

void CliSession::AskNext() {
    if (questions.empty()) return;
    const TransferEngine::OfferAsked& question = questions.front();
    output.Prompt(ToNarrow(Format(kFormatCapacity, u"%s「%s」(%s) を受信しますか？ [y/N] ",
                                  question.folder ? u"フォルダ" : u"ファイル", question.name,
                                  ByteSizeText(question.bytes))));
}

bool CliSession::HandleEvents() {
    std::deque<CliEvent> events = queue.TakeAll();
    for (CliEvent& event : events) Handle(event);
    return !events.empty();
}

void CliSession::HandleLine(const std::string& line) {
    if (!questions.empty()) {
        std::string answer = Trimmed(line);
        output.PromptAnswered(answer);
        bool take = answer == "y" || answer == "Y" || answer == "yes" || answer == "はい";
        link->AnswerOffer(questions.front().ticket, take);
        questions.pop_front();
        AskNext();
        return;
    }
    if (!options.stay || !linked || linkClosed) return;
    WString text = FromNarrow(Trimmed(line));
    if (text.empty()) return;
    TerminalChat chat(*link, values, [this](const WString& message) { PrintMessage(message); });
    DispatchInput(text, chat);
}

void CliSession::HandleInput() {
    std::optional<std::string> bytes = Terminal::ReadSome(STDIN_FILENO, 4096);
    if (!bytes) {
        inputOpen = false;
        if (!input.empty()) HandleLine(input);
        input.clear();
        RefuseQuestions();
        return;
    }
    input += *bytes;
    for (std::size_t end; (end = input.find('\n')) != std::string::npos;) {
        std::string line = input.substr(0, end);
        input.erase(0, end + 1);
        if (inputIsTerminal) output.InputEchoed(Trimmed(line));
        HandleLine(line);
    }
}

bool CliSession::AllDone() const {
    if (ownSends.empty()) return false;  // a side that only receives waits for the peer's end
    for (const TransferRow& row : rows.Rows())
        if (!StageEnded(row.stage)) return false;
    return true;
}

void CliSession::Serve() {
    for (;;) {
        bool reading = inputOpen && (options.stay || !questions.empty());
        std::vector<int> fds = {queue.WakeFd(), Terminal::SignalFd()};
        if (reading) fds.push_back(STDIN_FILENO);
        auto ready = Terminal::WaitReadable(fds, 1000);
        if (ready[1] && Terminal::TakeSignal()) {
            interrupted = true;
            return;
        }
        if (Terminal::TakeResize()) {
            FollowWidth();
            report->Update(rows);
        }
        HandleEvents();
        if (reading && ready[2]) HandleInput();
        if (linkClosed) return;
        if (options.stay ? !inputOpen : AllDone()) return;
    }
}

void CliSession::Finish() {
    RefuseQuestions();
    if (!linkClosed) {
        if (interrupted) Note(Trimmed(JsonLine("interrupted").Text()), u"中断します");
        // The peer hears the end (the private link's final record with it).
        link->Disconnect();
    }
    // The link's last facts (transfers it cut) come once its reading has ended.
    link->RestartThreads();
    HandleEvents();
    link->DetachWindow(&window);
    HandleEvents();
}

int CliSession::ExitCode() {
    if (interrupted) return kExitInterrupted;
    if (window.PassphraseRefused()) return kExitPassphrase;
    if (startFailed || !linked) return kExitNoLink;
    bool unverified = false, refused = false, lost = false, other = false, unproven = false;
    std::vector<TransferRow> all = rows.Rows();
    for (std::size_t i = 0; i < all.size(); ++i) {
        const TransferRow& row = all[i];
        bool cut = cutRows.count(static_cast<int>(i)) > 0;
        switch (row.stage) {
            case TransferStage::Verified:
                break;
            case TransferStage::Done:
                unproven = true;
                break;
            case TransferStage::Cancelled:
                (cut ? lost : refused) = true;
                break;
            case TransferStage::Failed:
                if (row.endText == kRowUnverified)
                    unverified = true;
                else if (cut || row.endText == kRowUnconfirmed)
                    lost = true;
                else if (row.direction == TransferDirection::Sending && !row.endText.empty())
                    refused = true;
                else
                    other = true;
                break;
            default:
                lost = true;  // still waiting or running when everything ended
                break;
        }
    }
    if (unproven)
        Note(Trimmed(JsonLine("warning").Add("text", "unverified-peer").Text()),
             u"注意: 相手は受信の検証に対応していないため、内容が届いたことは確かめられていません");
    if (unverified) return kExitUnverified;
    if (refused) return kExitRefused;
    if (lost) return kExitLinkLost;
    if (other) return kExitOther;
    return kExitOk;
}

void CliSession::KeepFreedBlocks() {
#if defined(__GLIBC__)
    // A transfer hands the digest worker a fresh block whenever the worker is behind, and
    // frees it once hashed. A new process starts with small malloc thresholds that it raises
    // only as it goes: until then every such block is mapped or the heap's top given back and
    // each page of the next block faults again, about a tenth of the CPU a GiB costs here.
    // The largest fixed thresholds keep freed blocks for the next ones, as in a process that
    // has run for a while.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
}

int CliSession::Run() {
    KeepFreedBlocks();
    Terminal::CatchSignals();
    if (int error = Prepare(); error != kExitOk) return error;
    InstallMessagePresenter(&window);
    for (;;) {
        if (StartLink()) {
            Serve();
            Finish();
        } else {
            SettleRefusedStart();
            HandleEvents();
            if (link) {
                link->DetachWindow(&window);
                HandleEvents();
            }
        }
        // A plain link hears the peer's wish for a passphrase only once it stands.
        if (!AskPassphraseAgain()) break;
        link.reset();
        window.ClearRefusal();
        startFailed = linked = linkClosed = peerEnded = false;
        rows = TransferRows();
        ownSends.clear();
        cutRows.clear();
        report = std::make_unique<ProgressReport>(output, style, kFallbackColumns - 1);
        FollowWidth();
    }
    int code = ExitCode();
    link.reset();
    InstallMessagePresenter(nullptr);
    if (options.json) output.Out(Trimmed(JsonLine("exit").Add("code", code).Text()));
    return code;
}

}  // namespace mirka::cli
