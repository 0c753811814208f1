#include "site_run.h"

#include "port_listing.h"
#include "site_ports.h"

#include <QMetaObject>

#include <algorithm>
#include <map>

namespace lorvane {

namespace {

// The records a read has confirmed so far, as the module sent them.
record_set records_of(const module_session& session)
{
    record_set set{};
    const std::vector<record_values>& read = session.records();
    for (std::size_t r = 0; r < std::min(read.size(), set.size()); ++r)
        set[r] = read[r];
    return set;
}

}  // namespace

// One bus of a site run: its link, its scan and its module session, and where it is.
class bus_runner final : public QObject
{
public:
    bus_runner(site_run& run, int index)
        : run_(run), index_(index), session_(link_, run.options_.session), scan_(link_)
    {
        connect(&link_, &serial_link::opened, this, [this] {
            if (stage_ == stage::opening)
                on_opened();
        });
        connect(&link_, &serial_link::open_failed, this, [this](const port_failure& failure) {
            if (stage_ != stage::opening)
                return;
            if (failure.kind == port_failure_kind::certificate_unknown && failure.certificate &&
                run_.options_.ask_trust && !asked_) {
                // Nothing was sent; the front end asks its user while the other buses go on.
                asked_ = true;
                refused_ = failure;
                stage_ = stage::asking;
                Q_EMIT run_.certificate_unknown(index_, *failure.certificate);
                return;
            }
            finish_bus(bus_failure{bus_failure_kind::cannot_open, failure, {}, {}, -1});
        });
        connect(&scan_, &bus_scan::progress, this, [this](int probed, int total) {
            Q_EMIT run_.scan_progress(index_, probed, total);
        });
        connect(&scan_, &bus_scan::finished, this, &bus_runner::on_scan_finished);
        connect(&session_, &module_session::progress, this, [this](int confirmed) {
            confirmed_ = confirmed;
            Q_EMIT run_.module_progress(index_, module().address, confirmed);
        });
        connect(&session_, &module_session::finished, this, &bus_runner::on_session_finished);
    }

    bool done() const { return stage_ == stage::done; }

    // Opens `device` and goes through the bus.
    void begin(const QString& device)
    {
        result().device = device;
        stage_ = stage::opening;
        if (run_.options_.capture && !captured_) {  // once per bus, a reopen keeps it
            captured_ = true;
            link_.set_capture(run_.options_.capture,
                              run_.options_.capture->add_interface(result().port));
        }
        link_.set_network_options(run_.options_.network);  // read afresh at each open
        if (const auto failure = link_.open(device)) {
            finish_bus(bus_failure{bus_failure_kind::cannot_open, *failure, {}, {}, -1});
            return;
        }
        if (!link_.is_opening())
            on_opened();
    }

    // The bus cannot be begun at all; nothing is sent.
    void fail(const bus_failure& failure) { finish_bus(failure); }

    // The front end's answer to certificate_unknown.
    void answer_trust(bool trusted)
    {
        if (stage_ != stage::asking)
            return;
        if (!trusted) {
            finish_bus(bus_failure{bus_failure_kind::cannot_open, refused_, {}, {}, -1});
            return;
        }
        // Opened again from the event loop, never from inside the front end's answer.
        stage_ = stage::reopening;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (stage_ == stage::reopening)
                    begin(result().device);
            },
            Qt::QueuedConnection);
    }

    void stop()
    {
        if (done())
            return;
        stopping_ = true;
        if (session_.busy())
            session_.stop();  // on_session_finished ends the bus
        else if (scan_.busy())
            scan_.stop();  // on_scan_finished ends the bus
        else if (stage_ != stage::module)
            finish_bus(std::nullopt);
        // Otherwise a handler of this bus is under way (it logged and stopped the run): it
        // sees stopping_ and ends the bus itself.
    }

private:
    enum class stage { idle, opening, asking, reopening, scanning, module, done };

    bus_result& result() { return run_.result_.buses[std::size_t(index_)]; }
    const site_bus& plan() const { return run_.site_.buses[std::size_t(index_)]; }
    module_result& module() { return result().modules[current_]; }
    site_action action() const { return run_.options_.action; }

    void on_opened()
    {
        opened_ = true;
        Q_EMIT run_.bus_opened(index_);
        const bool scanning = action() == site_action::adopt ||
                              (action() == site_action::check && run_.options_.scan);
        if (!scanning) {
            next_module();
            return;
        }
        stage_ = stage::scanning;
        scan_clock_.start();
        scan_options range = run_.options_.scan_range;
        // Every module a panel names is read after the scan: extra passes could only find
        // modules no panel names, and are worth their time only where the scan saw doubt.
        range.passes_on_doubt_only = true;
        scan_.start(range);
    }

    void on_scan_finished(scan_outcome outcome)
    {
        result().scan_ms = double(scan_clock_.nsecsElapsed()) / 1e6;
        if (outcome == scan_outcome::port_lost) {
            finish_bus(bus_failure{bus_failure_kind::port_lost, {}, {}, {}, -1, link_.last_loss()});
            return;
        }
        if (stopping_ || outcome != scan_outcome::done) {
            finish_bus(std::nullopt);
            return;
        }
        found_ = scan_.found();
        std::sort(found_.begin(), found_.end(), [](const found_module& a, const found_module& b) {
            return a.address < b.address;
        });
        result().scan_first = std::clamp(run_.options_.scan_range.first, 0, 255);
        result().scan_last = std::clamp(run_.options_.scan_range.last, result().scan_first, 255);
        if (scan_.noisy() || scan_.garbled() > 0)
            result().doubt = scan_doubt{scan_.garbled(), scan_.noisy(), scan_.unchecked()};
        for (module_result& planned : result().modules) {
            planned.answered_scan =
                std::any_of(found_.begin(), found_.end(),
                            [&](const found_module& m) { return m.address == planned.address; });
        }
        if (action() == site_action::adopt) {
            for (const found_module& m : found_) {
                module_result found;
                found.address = m.address;
                found.refresh_period = m.refresh_period;
                found.answered_scan = true;
                result().modules.push_back(found);
            }
        }
        next_module();
    }

    void next_module()
    {
        stage_ = stage::module;
        ++current_;
        if (current_ < result().modules.size() &&
            (action() == site_action::adopt || module().panel >= 0)) {
            module_times_ms_.clear();
            start_transfer(transfer_step::first_read);
            return;
        }
        if (action() == site_action::check)
            add_unexpected();
        finish_bus(std::nullopt);
    }

    void add_unexpected()
    {
        for (const found_module& m : found_) {
            const auto& planned = result().modules;
            if (std::any_of(planned.begin(), planned.end(),
                            [&](const module_result& r) { return r.address == m.address; }))
                continue;
            module_result unexpected;
            unexpected.address = m.address;
            unexpected.status = module_status::unexpected;
            unexpected.refresh_period = m.refresh_period;
            unexpected.answered_scan = true;
            result().modules.push_back(unexpected);
            Q_EMIT run_.module_done(index_, unexpected);
        }
    }

    void start_transfer(transfer_step step)
    {
        // The log names a module before its first write frame goes out, so that a crash or
        // a power cut mid-write leaves a trace of it. Without that line nothing is written.
        if (step == transfer_step::write &&
            !run_.log_module(index_, module(), audit_action::begun)) {
            stopping_ = true;
            module_complete(module());
            return;
        }
        step_ = step;
        confirmed_ = 0;
        Q_EMIT run_.module_started(index_, module().address, step);
        if (step == transfer_step::write)
            session_.start_write(plan().panels[std::size_t(module().panel)]);
        else
            session_.start_read(std::uint8_t(module().address));
    }

    void on_session_finished(session_outcome outcome)
    {
        module_result& m = module();
        const std::vector<double>& times = session_.reply_times_ms();
        module_times_ms_.insert(module_times_ms_.end(), times.begin(), times.end());
        m.replies = summarise_reply_times(module_times_ms_);
        if (outcome == session_outcome::done)
            transfer_done(m);
        else if (outcome == session_outcome::no_reply)
            no_reply(m);
        else
            cut_off(m, outcome);
    }

    void transfer_done(module_result& m)
    {
        const panel_config read = session_.config();
        switch (step_) {
        case transfer_step::first_read: {
            m.before = read;
            m.before_records = records_of(session_);
            m.read_ms = session_.transfer_ms();
            if (action() == site_action::adopt) {
                m.status = module_status::read;
                break;
            }
            const panel_config& panel = plan().panels[std::size_t(m.panel)];
            auto differences = compare_configs(panel, read);
            if (action() == site_action::check) {
                m.status = differences.empty() ? module_status::same : module_status::different;
                m.differences = std::move(differences);
                break;
            }
            if (differences.empty() && !run_.options_.write_all) {
                m.status = module_status::unchanged;
                break;
            }
            m.changes = std::move(differences);
            start_transfer(transfer_step::write);
            return;
        }
        case transfer_step::write:
            start_transfer(transfer_step::read_back);
            return;
        case transfer_step::read_back: {
            m.after = records_of(session_);
            const auto differences = compare_configs(plan().panels[std::size_t(m.panel)], read);
            if (differences.empty()) {
                m.status = module_status::written;
            } else {
                m.status = module_status::failed;
                m.fault = module_fault::read_back_differs;
                m.differences = differences;
                m.stopped_step = transfer_step::read_back;
                m.stopped_record = differences.front().record;
            }
            if (!run_.log_module(
                    index_, m, differences.empty() ? audit_action::written : audit_action::failed))
                stopping_ = true;
            break;
        }
        }
        module_complete(m);
    }

    void no_reply(module_result& m)
    {
        m.stopped_step = step_;
        m.stopped_record = session_.failed_record();
        // Missing means never heard from: a module that answered the scan or any record and
        // then went silent is failed where it stopped.
        if (step_ == transfer_step::first_read && !m.answered_scan && confirmed_ == 0) {
            m.status = module_status::missing;
        } else if (step_ == transfer_step::first_read) {
            m.status = module_status::failed;
            m.fault = module_fault::no_reply;
        } else {
            m.status = module_status::failed;
            m.fault = module_fault::no_reply;
            if (step_ == transfer_step::read_back)
                m.after = records_of(session_);
            if (!run_.log_module(index_, m, audit_action::failed))
                stopping_ = true;
        }
        module_complete(m);
    }

    // Stopped, or the port went away, while the module's transfer was under way.
    void cut_off(module_result& m, session_outcome outcome)
    {
        m.status = module_status::interrupted;
        m.stopped_step = step_;
        m.stopped_record = std::min(confirmed_, LAST_RECORD);
        if (step_ == transfer_step::read_back)
            m.after = records_of(session_);
        if (step_ != transfer_step::first_read)
            run_.log_module(index_, m, audit_action::interrupted);
        Q_EMIT run_.module_done(index_, m);
        const bool lost = !stopping_ && outcome != session_outcome::stopped;
        finish_bus(lost ? std::optional(bus_failure{
                              bus_failure_kind::port_lost, {}, {}, {}, -1, link_.last_loss()})
                        : std::nullopt);
    }

    void module_complete(const module_result& m)
    {
        Q_EMIT run_.module_done(index_, m);
        if (stopping_)
            finish_bus(std::nullopt);
        else
            next_module();
    }

    void finish_bus(const std::optional<bus_failure>& failure)
    {
        if (done())
            return;
        stage_ = stage::done;
        if (failure)
            result().failure = failure;
        // A check's bus gets what its line saw of the check's own traffic, before the close.
        if (action() == site_action::check && opened_ && result().reachable())
            result().health = passive_health();
        link_.close();
        Q_EMIT run_.bus_done(index_, result());
        run_.on_bus_done(index_);
    }

    health_report passive_health() const
    {
        health_report health;
        health.measured = link_.health();
        health.findings = diagnose(health.measured, /*active*/ false);
        // Cut short (stopped, or its log failed), a bus that has not answered yet may simply
        // not have been asked at its modules' addresses: its silence is no finding.
        if (stopping_)
            std::erase_if(health.findings, [](const health_finding& f) {
                return f.kind == finding_kind::no_module;
            });
        return health;
    }

    site_run& run_;
    const int index_;
    serial_link link_;
    module_session session_;
    bus_scan scan_;
    std::vector<double> module_times_ms_;  // every reply of the module under way
    QElapsedTimer scan_clock_;
    std::vector<found_module> found_;
    stage stage_ = stage::idle;
    transfer_step step_ = transfer_step::first_read;
    std::size_t current_ = std::size_t(-1);  // the module under way, in result().modules
    int confirmed_ = 0;                      // records confirmed in the transfer under way
    bool stopping_ = false;
    bool asked_ = false;     // certificate_unknown was emitted (once per run)
    bool captured_ = false;  // the bus has its interface in the run's capture
    bool opened_ = false;    // the port opened: the link's health is the bus's
    port_failure refused_;   // its failure, for a bus whose server is not trusted
};

site_result planned_result(const site_plan& site, site_action action)
{
    site_result result;
    result.site = site.name;
    result.action = action;
    for (const site_bus& bus : site.buses) {
        bus_result r;
        r.name = bus.name;
        r.port = bus.port;
        if (action != site_action::adopt) {
            for (std::size_t p = 0; p < bus.panels.size(); ++p) {
                module_result m;
                m.address = bus.panels[p].module_address;
                m.panel = int(p);
                m.panel_path = bus.panel_paths.value(qsizetype(p));
                r.modules.push_back(m);
            }
        }
        result.buses.push_back(r);
    }
    return result;
}

std::variant<QString, bus_failure> resolve_bus_port(const site_bus& bus)
{
    const QString port = bus.port.trimmed();
    const auto serial = usb_serial_of(port);
    if (!serial)
        return port;
    const QStringList names = ports_with_serial(*serial);
    if (names.size() == 1)
        return names.front();
    return bus_failure{names.isEmpty() ? bus_failure_kind::usb_not_plugged
                                       : bus_failure_kind::usb_ambiguous,
                       {},
                       *serial,
                       names,
                       -1};
}

site_run::site_run(const site_plan& site, const site_run_options& options, QObject* parent)
    : QObject(parent), site_(site), options_(options), result_(planned_result(site, options.action))
{
}

site_run::~site_run() = default;

void site_run::set_audit_log(audit_log* log, const audit_identity& who, const site_digests& digests)
{
    log_ = log;
    who_ = who;
    digests_ = digests;
}

void site_run::start()
{
    if (started_)
        return;
    started_ = true;
    running_ = true;
    result_.started = QDateTime::currentDateTimeUtc();
    clock_.start();
    for (int i = 0; i < int(site_.buses.size()); ++i)
        runners_.push_back(std::make_unique<bus_runner>(*this, i));
    // From the event loop: the front end has connected and returned before any signal.
    QMetaObject::invokeMethod(this, &site_run::resolve_and_begin, Qt::QueuedConnection);
}

void site_run::resolve_and_begin()
{
    std::map<QString, int> devices;  // identity of an opened device -> its bus
    for (int i = 0; i < int(runners_.size()); ++i) {
        bus_runner& runner = *runners_[std::size_t(i)];
        if (runner.done())
            continue;  // stopped before it began
        const auto resolved = resolve_bus_port(site_.buses[std::size_t(i)]);
        if (const auto* failure = std::get_if<bus_failure>(&resolved)) {
            runner.fail(*failure);
            continue;
        }
        const QString& device = std::get<QString>(resolved);
        // Two texts for one device were refused with the site; a usb: port may still turn out
        // to be the device another bus names.
        const QString identity = port_identity(device).value_or(device);
        if (const auto other = devices.find(identity); other != devices.end()) {
            runner.fail(
                bus_failure{bus_failure_kind::port_shared, {}, {}, {device}, other->second});
            continue;
        }
        devices.emplace(identity, i);
        runner.begin(device);
    }
}

void site_run::answer_trust(int bus, bool trusted)
{
    if (bus >= 0 && bus < int(runners_.size()))
        runners_[std::size_t(bus)]->answer_trust(trusted);
}

void site_run::stop()
{
    if (!running_)
        return;
    result_.stopped = true;
    for (const auto& runner : runners_)
        runner->stop();
}

void site_run::on_bus_done(int)
{
    if (!running_ || !std::all_of(runners_.begin(), runners_.end(),
                                  [](const auto& runner) { return runner->done(); }))
        return;
    running_ = false;
    result_.seconds = double(clock_.nsecsElapsed()) / 1e9;
    if (log_ && options_.action != site_action::adopt) {
        // The run's own line, checks too: its hash is the head the front end shows.
        if (!result_.log_failure) {
            if (const auto failure =
                    log_->append(audit_run_line(result_, site_.name, who_, log_->head())))
                result_.log_failure = *failure;
        }
        result_.log_head = log_->head();
    }
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT finished(result_); }, Qt::QueuedConnection);
}

bool site_run::log_module(int bus, module_result& module, audit_action action)
{
    if (!log_ || result_.log_failure)
        return !result_.log_failure;
    audit_entry entry;
    entry.time = QDateTime::currentDateTimeUtc();
    entry.site = site_.name;
    entry.bus = site_.buses[std::size_t(bus)].name;
    entry.port = site_.buses[std::size_t(bus)].port;
    entry.module = module.address;
    entry.panel = site_.buses[std::size_t(bus)].panel_paths.value(module.panel);
    entry.action = action;
    entry.before = module.before_records;
    entry.after = module.after;
    entry.stopped_step = module.stopped_step;
    entry.stopped_record = module.stopped_record;
    if (const auto digest = digests_.panels.find(entry.panel); digest != digests_.panels.end())
        entry.panel_sha256 = digest->second.toHex();
    if (const auto failure = log_->append(audit_line(entry, who_, log_->head()))) {
        result_.log_failure = *failure;
        stop();
        return false;
    }
    module.logged = true;
    return true;
}

site_counts count_site(const site_result& result)
{
    site_counts counts;
    counts.buses = int(result.buses.size());
    for (const bus_result& bus : result.buses) {
        counts.unreachable += bus.reachable() ? 0 : 1;
        for (const module_result& m : bus.modules) {
            counts.modules += m.panel >= 0 ? 1 : 0;
            ++counts.by_status[std::size_t(m.status)];
        }
    }
    return counts;
}

bool bus_worth_a_line(const bus_result& bus)
{
    return bus_problems(bus) > 0 ||
           std::any_of(bus.modules.begin(), bus.modules.end(),
                       [](const module_result& m) { return m.status == module_status::written; });
}

int open_items(const site_result& result)
{
    int open = 0;
    for (const bus_result& bus : result.buses) {
        if (!bus.reachable()) {
            ++open;
            continue;
        }
        open += bus.doubt ? 1 : 0;
        open += int(std::count_if(bus.modules.begin(), bus.modules.end(), module_open));
    }
    return open;
}

bool module_has_problem(const bus_result& bus, const module_result& module)
{
    if (module_open(module))
        return true;
    if (!bus.health)
        return false;
    const auto& findings = bus.health->findings;
    return std::any_of(findings.begin(), findings.end(),
                       [&](const health_finding& f) { return f.address == module.address; });
}

int bus_own_problems(const bus_result& bus)
{
    int problems = (bus.reachable() ? 0 : 1) + (bus.doubt ? 1 : 0);
    if (bus.health) {
        for (const health_finding& f : bus.health->findings) {
            const bool of_a_module =
                f.address &&
                std::any_of(bus.modules.begin(), bus.modules.end(),
                            [&](const module_result& m) { return m.address == *f.address; });
            problems += of_a_module ? 0 : 1;
        }
    }
    return problems;
}

int bus_problems(const bus_result& bus)
{
    const auto modules =
        std::count_if(bus.modules.begin(), bus.modules.end(),
                      [&](const module_result& m) { return module_has_problem(bus, m); });
    return int(modules) + bus_own_problems(bus);
}

std::vector<module_status> summary_statuses(site_action action)
{
    std::vector<module_status> statuses;
    switch (action) {
    case site_action::check:
        statuses = {module_status::same, module_status::different, module_status::failed,
                    module_status::missing, module_status::unexpected};
        break;
    case site_action::write:
        statuses = {module_status::unchanged, module_status::written, module_status::failed,
                    module_status::missing};
        break;
    case site_action::adopt:
        statuses = {module_status::read, module_status::failed, module_status::missing};
        break;
    }
    statuses.push_back(module_status::interrupted);
    statuses.push_back(module_status::not_reached);
    return statuses;
}

std::optional<reply_times> summarise_reply_times(std::vector<double> sample_ms)
{
    if (sample_ms.empty())
        return std::nullopt;
    std::sort(sample_ms.begin(), sample_ms.end());
    const std::size_t n = sample_ms.size();
    const double median =
        n % 2 == 1 ? sample_ms[n / 2] : (sample_ms[n / 2 - 1] + sample_ms[n / 2]) / 2.0;
    return reply_times{sample_ms.front(), median, sample_ms.back()};
}

}  // namespace lorvane
