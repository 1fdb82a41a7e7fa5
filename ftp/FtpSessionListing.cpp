// How a session lists a directory: which command, in which order of
// preference, and how an empty or doubtful listing is confirmed.
#include "ftp/FtpSession.h"

#include "ftp/FtpReplies.h"
#include "ftp/ListingLines.h"
#include "ftp/ListingParser.h"

#include <algorithm>

namespace ornbrook {

FtpResult FtpSession::ListWith(const std::string& command, ListingForm form,
                               ParsedListing& parsed) {
    ListingParser parser(form, limits_);
    FtpResult r = Transfer(command, 'A', &parser, nullptr);
    if (parser.Full() || (r.Ok && !parser.Finish()))
        return FtpResult::Fail(0, "listing beyond the caps");
    if (!r.Ok)
        return r;
    // vsftpd, for a directory it may enter but not read: "226 Transfer done
    // (but failed to open directory)." after sending nothing.
    if (const FtpReply reply{r.Code, r.Message}; SaysFailed(reply))
        return Refusal(reply);
    parsed = parser.TakeListing();
    return r;
}

FtpResult FtpSession::List(Listing& listing, bool confirmEmpty) {
    listing = Listing{};
    FtpResult r = ListByPreference(listing, confirmEmpty);
    if (!r.Ok) {
        listing = Listing{};
        return r;
    }
    listing.Cut = SaysCut(FtpReply{r.Code, r.Message});
    return r;
}

// MLSD where FEAT offers it, then NLST, then LIST. 500 and 502 say that a
// command is unknown or not implemented (RFC 959 4.2): it is not asked again.
FtpResult FtpSession::ListByPreference(Listing& listing, bool confirmEmpty) {
    if (facts_.MachineListing) {
        FtpResult r = ListByMachine(listing);
        if (!IsUnknownCommand(r) || !IsOpen())
            return r;
        facts_.MachineListing = false;
        RememberFacts();
    }
    if (!facts_.NoNameListing) {
        if (facts_.LongListingTrusted) {
            FtpResult r = ListByLong(listing);
            if (r.Ok || !IsOpen())
                return r;
            // A line of no known style (or a refusal): names alone from now on.
            facts_.LongListingTrusted = false;
            RememberFacts();
        }
        FtpResult r = ListByNames(listing, confirmEmpty);
        if (r.Ok && listing.Source == ListingSource::Names && !listing.Entries.empty() && IsOpen())
            if (FtpResult l = TryLongListing(listing); !l.Ok)
                return l;
        if (!IsUnknownCommand(r) || !IsOpen())
            return r;
        facts_.NoNameListing = true;
        RememberFacts();
    }
    return ListByLong(listing);
}

// LIST gives facts that NLST does not, but its lines are the server's own: it
// is believed once every line parses and its names are NLST's names. Then it
// replaces the names, and is asked alone from now on. A name with a line break
// in it comes from NLST as two names, and from LIST as a line and a piece of
// one: where a LIST line that cannot be read is itself one of NLST's names,
// the names cannot be told apart from the line breaks, and the check fails
// rather than invent two files.
FtpResult FtpSession::TryLongListing(Listing& listing) {
    ParsedListing parsed;
    if (!ListWith("LIST", ListingForm::Long, parsed).Ok)
        return FtpResult::Pass();
    if (parsed.Unrecognised > 0) {
        const std::vector<std::string> names = listing.Names();
        for (const std::string& line : parsed.UnrecognisedLines)
            if (std::find(names.begin(), names.end(), line) != names.end())
                return FtpResult::Fail(0, "a name holds a line break: NLST and LIST cannot "
                                          "tell its parts from two names");
        return FtpResult::Pass();
    }
    std::vector<std::string> names = listing.Names(), longNames = Listing{parsed.Entries}.Names();
    std::sort(names.begin(), names.end());
    std::sort(longNames.begin(), longNames.end());
    if (names != longNames)
        return FtpResult::Pass();
    listing.Entries = std::move(parsed.Entries);
    listing.Source = ListingSource::Long;
    facts_.LongListingTrusted = true;
    RememberFacts();
    return FtpResult::Pass();
}

// An empty MLSD stands: MLSD lists an empty directory as empty. Lines whose
// facts may end at more than one "; " are named by NLST of the same directory.
FtpResult FtpSession::ListByMachine(Listing& listing) {
    ParsedListing parsed;
    FtpResult r = ListWith("MLSD", ListingForm::Machine, parsed);
    if (!r.Ok)
        return r;
    if (parsed.Unrecognised > 0)
        return FtpResult::Fail(0, "malformed MLSD line");
    if (!parsed.AmbiguousAt.empty()) {
        ParsedListing names;
        FtpResult n = FtpResult::Fail(0, "ambiguous MLSD line");
        if (!facts_.NoNameListing)
            n = ListWith("NLST", ListingForm::Names, names);
        if (IsUnknownCommand(n) && IsOpen()) {
            facts_.NoNameListing = true;
            RememberFacts();
        } else if (!n.Ok) {
            return n;
        }
        if (!n.Ok || !NameAmbiguousLines(parsed.Entries, parsed.AmbiguousAt, parsed.AmbiguousLines,
                                         Listing{names.Entries}.Names()))
            return FtpResult::Fail(0, "ambiguous MLSD line");
    }
    listing.Entries = std::move(parsed.Entries);
    listing.Source = ListingSource::Machine;
    return r;
}

// An empty NLST, or the 450 or 550 with which old servers answer NLST of an
// empty directory ("No files found", the codes that also refuse a listing), is
// believed only when LIST shows no entry either.
FtpResult FtpSession::ListByNames(Listing& listing, bool confirmEmpty) {
    ParsedListing parsed;
    const FtpResult r = ListWith("NLST", ListingForm::Names, parsed);
    const bool mayBeEmpty = !r.Ok && r.Refused && (r.Code == 450 || r.Code == 550) && IsOpen();
    if (!r.Ok && !mayBeEmpty)
        return r;
    if (r.Ok && (!parsed.Entries.empty() || !confirmEmpty)) {
        listing.Entries = std::move(parsed.Entries);
        return r;
    }
    ParsedListing other;
    const FtpResult l = ListWith("LIST", ListingForm::Long, other);
    const bool listsNothing = l.Ok && other.Entries.empty() && other.Unrecognised == 0;
    if (mayBeEmpty)
        return listsNothing ? l : r;
    // Without LIST there is nothing to confirm by, and the empty NLST stands.
    if (IsUnknownCommand(l) && IsOpen())
        return r;
    if (!l.Ok || listsNothing)
        return l;
    // LIST shows what NLST left out; its names are the server's own.
    if (other.Unrecognised > 0)
        return FtpResult::Fail(0, "unrecognised listing");
    listing.Entries = std::move(other.Entries);
    listing.Source = ListingSource::Long;
    return l;
}

// LIST is asked only where the server has no NLST, so a line of no known style
// leaves no other way to a name: the check fails rather than guess one, and
// an empty listing stands.
FtpResult FtpSession::ListByLong(Listing& listing) {
    ParsedListing parsed;
    FtpResult r = ListWith("LIST", ListingForm::Long, parsed);
    if (!r.Ok)
        return r;
    if (parsed.Unrecognised > 0)
        return FtpResult::Fail(0, "unrecognised listing");
    listing.Entries = std::move(parsed.Entries);
    listing.Source = ListingSource::Long;
    return r;
}

} // namespace ornbrook
