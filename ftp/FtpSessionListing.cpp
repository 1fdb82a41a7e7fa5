// How a session lists a directory: which command, in which order of
// preference, and how an empty or doubtful listing is confirmed.
#include "ftp/FtpSession.h"

#include "ftp/FtpReplies.h"
#include "ftp/ListingLines.h"
#include "ftp/ListingParser.h"

#include <algorithm>

namespace ornbrook {

FtpSession::Step FtpSession::ListWith(const std::string& command, ListingForm form,
                                      ParsedListing& parsed) {
    ListingParser parser(form, limits_);
    Step r = Transfer(command, 'A', &parser, nullptr);
    if (parser.Full() || (r && !parser.Finish()))
        return Error{ErrorKind::Protocol, "listing beyond the caps"};
    if (!r)
        return r;
    // vsftpd, for a directory it may enter but not read: "226 Transfer done
    // (but failed to open directory)." after sending nothing.
    if (SaysFailed(*r))
        return Error{ErrorKind::Protocol, r->Summary(), r->Code};
    parsed = parser.TakeListing();
    return r;
}

Result<Listing> FtpSession::List(bool confirmEmpty) {
    Listing listing;
    Step r = ListByPreference(listing, confirmEmpty);
    if (!r)
        return std::move(r).error();
    listing.Cut = SaysCut(*r);
    return listing;
}

// MLSD where FEAT offers it, then NLST, then LIST. 500 and 502 say that a
// command is unknown or not implemented (RFC 959 4.2): it is not asked again.
FtpSession::Step FtpSession::ListByPreference(Listing& listing, bool confirmEmpty) {
    if (facts_.MachineListing) {
        Step r = ListByMachine(listing);
        if (r || !IsUnknownCommand(r.error()) || !IsOpen())
            return r;
        facts_.MachineListing = false;
        RememberFacts();
    }
    if (!facts_.NoNameListing) {
        if (facts_.LongListingTrusted) {
            Step r = ListByLong(listing);
            if (r || !IsOpen())
                return r;
            // A line of no known style (or a refusal): names alone from now on.
            facts_.LongListingTrusted = false;
            RememberFacts();
        }
        Step r = ListByNames(listing, confirmEmpty);
        if (r && listing.Source == ListingSource::Names && !listing.Entries.empty() && IsOpen())
            if (Step l = TryLongListing(listing); !l)
                return l;
        if (r || !IsUnknownCommand(r.error()) || !IsOpen())
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
FtpSession::Step FtpSession::TryLongListing(Listing& listing) {
    ParsedListing parsed;
    if (!ListWith("LIST", ListingForm::Long, parsed))
        return FtpReply{};
    if (parsed.Unrecognised > 0) {
        const std::vector<std::string> names = listing.Names();
        for (const std::string& line : parsed.UnrecognisedLines)
            if (std::find(names.begin(), names.end(), line) != names.end())
                return Error{ErrorKind::Protocol, "a name holds a line break: NLST and LIST "
                                                  "cannot tell its parts from two names"};
        return FtpReply{};
    }
    std::vector<std::string> names = listing.Names(), longNames = Listing{parsed.Entries}.Names();
    std::sort(names.begin(), names.end());
    std::sort(longNames.begin(), longNames.end());
    if (names != longNames)
        return FtpReply{};
    listing.Entries = std::move(parsed.Entries);
    listing.Source = ListingSource::Long;
    facts_.LongListingTrusted = true;
    RememberFacts();
    return FtpReply{};
}

// An empty MLSD stands: MLSD lists an empty directory as empty. Lines whose
// facts may end at more than one "; " are named by NLST of the same directory.
FtpSession::Step FtpSession::ListByMachine(Listing& listing) {
    ParsedListing parsed;
    Step r = ListWith("MLSD", ListingForm::Machine, parsed);
    if (!r)
        return r;
    if (parsed.Unrecognised > 0)
        return Error{ErrorKind::Protocol, "malformed MLSD line"};
    if (!parsed.AmbiguousAt.empty()) {
        const Error ambiguous{ErrorKind::Protocol, "ambiguous MLSD line"};
        ParsedListing names;
        Step n = ambiguous;
        if (!facts_.NoNameListing)
            n = ListWith("NLST", ListingForm::Names, names);
        if (!n && IsUnknownCommand(n.error()) && IsOpen()) {
            facts_.NoNameListing = true;
            RememberFacts();
        } else if (!n) {
            return n;
        }
        if (!n || !NameAmbiguousLines(parsed.Entries, parsed.AmbiguousAt, parsed.AmbiguousLines,
                                      Listing{names.Entries}.Names()))
            return ambiguous;
    }
    listing.Entries = std::move(parsed.Entries);
    listing.Source = ListingSource::Machine;
    return r;
}

// An empty NLST, or the 450 or 550 with which old servers answer NLST of an
// empty directory ("No files found", the codes that also refuse a listing), is
// believed only when LIST shows no entry either.
FtpSession::Step FtpSession::ListByNames(Listing& listing, bool confirmEmpty) {
    ParsedListing parsed;
    const Step r = ListWith("NLST", ListingForm::Names, parsed);
    const bool mayBeEmpty = !r && r.error().Kind == ErrorKind::Refused &&
                            (r.error().Code == 450 || r.error().Code == 550) && IsOpen();
    if (!r && !mayBeEmpty)
        return r;
    if (r && (!parsed.Entries.empty() || !confirmEmpty)) {
        listing.Entries = std::move(parsed.Entries);
        return r;
    }
    ParsedListing other;
    const Step l = ListWith("LIST", ListingForm::Long, other);
    const bool listsNothing = l && other.Entries.empty() && other.Unrecognised == 0;
    if (mayBeEmpty)
        return listsNothing ? l : r;
    // Without LIST there is nothing to confirm by, and the empty NLST stands.
    if (!l && IsUnknownCommand(l.error()) && IsOpen())
        return r;
    if (!l || listsNothing)
        return l;
    // LIST shows what NLST left out; its names are the server's own.
    if (other.Unrecognised > 0)
        return Error{ErrorKind::Protocol, "unrecognised listing"};
    listing.Entries = std::move(other.Entries);
    listing.Source = ListingSource::Long;
    return l;
}

// LIST is asked only where the server has no NLST, so a line of no known style
// leaves no other way to a name: the check fails rather than guess one, and
// an empty listing stands.
FtpSession::Step FtpSession::ListByLong(Listing& listing) {
    ParsedListing parsed;
    Step r = ListWith("LIST", ListingForm::Long, parsed);
    if (!r)
        return r;
    if (parsed.Unrecognised > 0)
        return Error{ErrorKind::Protocol, "unrecognised listing"};
    listing.Entries = std::move(parsed.Entries);
    listing.Source = ListingSource::Long;
    return r;
}

} // namespace ornbrook
